#pragma once

#include <QWidget>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

// Mode selection: opens the Wi-Fi window, the Bluetooth window, or both.
class setup : public QWidget {
    Q_OBJECT

public:
    explicit setup(QWidget *parent = nullptr);

private:
    QGroupBox *Frame1;
    QPushButton *Command1;
    QPushButton *Command2;
    QGroupBox *Frame2;
    QLabel *Label1;
    QComboBox *Combo1;
};
