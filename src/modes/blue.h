#pragma once

#include "poller.h"
#include "pollreport.h"
#include "printwindow.h"
#include "serialtransport.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

class QLabel;
class QSerialPort;
class PollTimer;

// The Bluetooth mode: polls for requests from the moment it is shown, writes each command to the
// serial line and prints its status lines on the window.
class blue : public PrintWindow, private StatusSink {
public:
    explicit blue(const QString &directory = QCoreApplication::applicationDirPath(),
                  const QStringList &devices = SerialTransport::defaultDevices(),
                  QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void polled(const PollEvent &event);
    void report(const QString &line) override;

    QLabel *Label1;
    PollTimer *Timer1;
    QSerialPort *MSComm1;
    SerialTransport m_transport;
    Poller m_poller;
};
