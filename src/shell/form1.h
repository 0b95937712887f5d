#pragma once

#include <QWidget>

class QPushButton;

// The start window: opens mode selection, or ends the whole program.
class Form1 : public QWidget {
    Q_OBJECT

public:
    explicit Form1(QWidget *parent = nullptr);

private:
    QPushButton *Command1;
    QPushButton *Command2;
};
