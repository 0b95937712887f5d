#pragma once

// What the window benchmark drives the real windows with: the producer of "api.txt" in another
// process, the far sides of both transports on a thread of their own, and the windows themselves,
// created and clicked on the windows' thread as a user would.

#include "blue.h"
#include "measure.h"
#include "wifi.h"

#include <QApplication>
#include <QByteArray>
#include <QPointer>
#include <QString>

#include <atomic>
#include <sys/types.h>
#include <thread>

extern const QByteArray Request;
extern const QByteArray Command;

// Another process that makes "api.txt" appear on request: written and closed under another name,
// then renamed into place, with the moment of the rename sent back.
class Producer {
public:
    explicit Producer(const QByteArray &directory);
    ~Producer();
    Producer(const Producer &) = delete;
    Producer &operator=(const Producer &) = delete;

    qint64 makeAppear();

private:
    pid_t m_pid;
    int m_order, m_reply;
};

// The far sides: a UDP listener on loopback and the master of a pseudo-terminal, read on their
// own thread so that the windows' thread is measured alone.
class FarSide {
public:
    FarSide();
    ~FarSide();
    FarSide(const FarSide &) = delete;
    FarSide &operator=(const FarSide &) = delete;

    quint16 port() const { return m_port; }
    QString serialDevice() const { return m_slaveName; }
    double cpuSeconds() { return threadCpuSeconds(m_thread.native_handle()); }

    // Datagrams not yet read by the far side's thread.
    bool hasUnread() const;

    std::atomic<qint64> datagrams{0}, serialCommands{0}, faults{0};
    // Moments a datagram reached the far side's socket, as the kernel stamps it: the far side's
    // thread may be kept waiting by the rest of the machine, and the windows must not be blamed.
    std::atomic<qint64> armedArrival{0};
    std::atomic<bool> armed{false};
    std::atomic<qint64> lastDatagramAt{0};
    // The longest wait between a datagram's arrival and the far side reading it.
    std::atomic<qint64> longestReadDelay{0};

private:
    void run();

    int m_udp = -1, m_master = -1, m_slave = -1;
    quint16 m_port = 0;
    QString m_slaveName;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Runs `work` on the windows' thread and waits for it.
template <typename Work> void onGuiThread(Work work)
{
    QMetaObject::invokeMethod(qApp, work, Qt::BlockingQueuedConnection);
}

struct Windows {
    QPointer<wifi> udp;
    QPointer<blue> serial;
    std::atomic<qint64> udpCycles{0}, serialCycles{0}, logPaints{0};
};

// Opens the windows asked for, the Wi-Fi window set up to send to the far side; call from any
// thread but the windows'.
void openWindows(Windows &windows, const QString &directory, const FarSide &far, bool withUdp,
                 bool withSerial);
void closeWindows(Windows &windows);

// CPU time the windows' side of the process has used: all of it but the far side's thread and the
// calling thread, which stand in for other programs.
double serverCpuSeconds(FarSide &far);

// Makes Qt's widgets send accessibility events, as they do once a screen reader asks for them,
// to a reader inside the process. False where the platform has no accessibility.
bool activateAccessibility();
qint64 accessibilityEvents();
