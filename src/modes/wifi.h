#pragma once

#include "poller.h"
#include "pollreport.h"
#include "udptransport.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QString>
#include <QWidget>

class HostLookup;
class ListBox;
class PollTimer;
class QPushButton;
class QUdpSocket;

// The Wi-Fi mode: after the user gives a port and a destination, every request found in
// "api.txt" goes out as one UDP datagram, and each step is logged in the list.
class wifi : public QWidget, private StatusSink {
public:
    // The list keeps only the newest lines: with "api.txt" present it grows by two lines per tick.
    static constexpr int MaxLogLines = 1000;
    // How long a host name may take to resolve before the setup gives up on it.
    static constexpr int LookupMs = 5000;

    explicit wifi(const QString &directory = QCoreApplication::applicationDirPath(),
                  QWidget *parent = nullptr);

private:
    void polled(const PollEvent &event);
    // The poll cycle's lines, two a millisecond: they reach the list in batches, ten times a second
    // at most.
    void report(const QString &line) override;
    // The setup's lines, at once.
    void log(const QString &line);
    void setupSequence();
    void hostLookedUp(const QList<QHostAddress> &addresses);
    void finishSetup(const QList<QHostAddress> &addresses);
    // Frees the port and leaves the window ready for another click on "开始安装".
    void abandonSetup(const QString &line);

    ListBox *serverlog;
    QPushButton *s;
    PollTimer *jiance;
    QUdpSocket *Winsock1;
    HostLookup *m_lookup;
    UdpTransport m_transport;
    Poller m_poller;
    QString m_host;
};
