#pragma once

#include "pollcycle.h"
#include "printwindow.h"
#include "serialtransport.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

class QLabel;
class QSerialPort;
class PollTimer;
class RequestWatch;

// The Bluetooth mode: polls for requests from the moment it is shown, writes each command to the
// serial line and prints its status lines on the window.
class blue : public PrintWindow, private StatusSink {
public:
    explicit blue(const QString &directory = QCoreApplication::applicationDirPath(),
                  const QStringList &devices = SerialTransport::defaultDevices(),
                  QWidget *parent = nullptr);

private:
    void report(const QString &line) override;

    const QString m_directory;
    QLabel *Label1;
    PollTimer *Timer1;
    QSerialPort *MSComm1;
    SerialTransport m_transport;
    RequestWatch *m_watch;
};
