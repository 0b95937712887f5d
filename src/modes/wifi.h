#pragma once

#include "pollcycle.h"
#include "poller.h"
#include "udptransport.h"

#include <QCoreApplication>
#include <QString>
#include <QWidget>

class QListWidget;
class QPushButton;
class PollTimer;
class QUdpSocket;

// The Wi-Fi mode: after the user gives a port and a destination, every request found in
// "api.txt" goes out as one UDP datagram, and each step is logged in the list.
class wifi : public QWidget, private StatusSink {
public:
    // The list keeps only the newest lines: with "api.txt" present it grows by two lines per tick.
    static constexpr int MaxLogLines = 1000;

    explicit wifi(const QString &directory = QCoreApplication::applicationDirPath(),
                  QWidget *parent = nullptr);

private:
    void report(const QString &line) override;
    void setupSequence();
    // Frees the port and leaves the window ready for another click on "开始安装".
    void abandonSetup(const QString &line);

    QListWidget *serverlog;
    QPushButton *s;
    PollTimer *jiance;
    QUdpSocket *Winsock1;
    UdpTransport m_transport;
    Poller m_poller;
};
