#pragma once

// Both mode windows against a far side, for the fault tests and the window benchmark alike:
// `wifi` set up through 开始安装 for a free port P, `blue` writing to a device path that is a
// symbolic link onto a pseudo-terminal, a UDP listener sharing P and the pseudo-terminal's master
// read on a thread of their own, and a producer of requests.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class ListBox;
class PollTimer;
class blue;
class wifi;

qint64 nowNs();

// The appliance side, on a thread of its own so that whoever drives the windows is free to wait or
// measure: what arrives is kept until taken, with the kernel's arrival stamp of each datagram, and
// the tests' sentinels mark how far everything sent before them has come.
class FarSide {
public:
    struct Datagram {
        QByteArray data;
        int senderPort;
        qint64 arrivedNs; // monotonic clock
    };
    // A point in both streams: the ordinal of a sentinel dropped into each.
    struct Mark {
        int datagrams, serial;
    };

    // The pseudo-terminal is made at once and `devicePath` pointed at it; nothing listens on UDP
    // until listen().
    explicit FarSide(const QString &devicePath);
    ~FarSide();
    FarSide(const FarSide &) = delete;
    FarSide &operator=(const FarSide &) = delete;

    bool isValid() const { return m_valid; }
    // Listens at `address`, port `port`, sharing it with the server's socket.
    bool listen(const QHostAddress &address, quint16 port);
    // The far side of the serial link goes away, as when a Bluetooth link drops.
    void hangUp();
    // A new pseudo-terminal takes the device path, switched in one step as udev would; the serial
    // record starts afresh with it.
    bool replaceLine();

    Mark mark();
    bool hasArrived(const Mark &mark) const;
    QList<Datagram> datagramsSince(const Mark &from) const;
    QByteArray serialSince(const Mark &from) const;
    // Everything received and not yet taken, forgotten here; marks taken before no longer count.
    std::pair<QList<Datagram>, QByteArray> take();
    // Waits until a datagram and bytes on the line have come that have not been taken; false after
    // `ms` without either.
    bool waitForBoth(int ms);
    // When the first byte on the line not yet taken was read (monotonic clock), or 0.
    qint64 serialArrivedNs() const;
    // The thread it reads on: the window benchmark leaves its CPU time out of the windows'.
    std::thread &thread() { return m_thread; }

private:
    void run();
    // Tells the thread that the sockets changed; call with the mutex locked.
    void changed();
    // Closes `fd` once the thread has stopped waiting on it: a descriptor closed while poll()
    // waits on it stays open until poll() returns. Call with the mutex locked.
    void retire(std::unique_lock<std::mutex> &lock, int &fd);

    QString m_devicePath;
    bool m_valid = false;
    int m_wake = -1;
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived, m_returned;
    // Under the mutex: the sockets, the record, and a count of changes to the sockets, so that the
    // thread never reads a descriptor that was closed (and maybe reused) while it waited.
    int m_udp = -1, m_master = -1, m_slave = -1, m_changes = 0;
    QHostAddress m_address;
    quint16 m_port = 0;
    QList<Datagram> m_datagrams;
    QByteArray m_serial;
    qint64 m_serialArrivedNs = 0;
    QList<qsizetype> m_datagramSentinels, m_serialSentinels;
    int m_datagramMarks = 0, m_serialMarks = 0;
    QList<int> m_closing;
    bool m_stop = false;
    std::thread m_thread;
};

// Another program writing requests into a directory.
class Producer {
public:
    explicit Producer(const QString &directory);
    ~Producer() { stop(); }
    Producer(const Producer &) = delete;
    Producer &operator=(const Producer &) = delete;

    // Makes "api.txt" appear holding `bytes` as the README asks: written whole under another name
    // in the same directory, then renamed into place `pauseUs` after that name appeared, as when
    // separate programs write and rename. Returns the moment of the rename, or 0 on failure.
    qint64 put(const QByteArray &bytes, int pauseUs = 0) const;
    // Removes whatever is under the name: a file, a FIFO, a link or an empty directory.
    bool remove() const;

    // Runs `round` again and again on a thread of its own until stopped.
    void run(std::function<void(int)> round);
    void stop();
    int rounds() const { return m_rounds; }

private:
    const QByteArray m_directory;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_rounds{0};
    std::thread m_thread;
};

class Rig {
public:
    enum Windows { Wifi = 1, Blue = 2, Both = 3 };
    // Tested windows stay hidden and keep every line they report; measured ones are shown as a
    // user sees them and keep nothing beyond what the windows themselves keep.
    enum Use { Tested, Measured };
    // A point between two ticks: lines and rows by count, the far side by its sentinels.
    struct Mark {
        qsizetype wifiLines, blueRows;
        FarSide::Mark far;
    };

    Rig();
    ~Rig();

    // Opens the windows asked for: wifi set up to send to `host`, port P, with the far side
    // listening at `listenAt` (none: nobody listens yet). True when they poll.
    bool open(Windows windows = Both, Use use = Tested, const QString &host = u"127.0.0.1"_qs,
              const std::optional<QHostAddress> &listenAt = QHostAddress(QHostAddress::LocalHost));
    void close();

    QString directory() const { return m_dir.path(); }
    QString requestPath() const { return m_dir.filePath(u"api.txt"_qs); }
    QString devicePath() const { return m_dir.filePath(u"rfcomm0"_qs); }
    quint16 port() const { return m_port; }
    FarSide &far() { return *m_far; }
    Producer &producer() { return m_producer; }
    PollTimer *wifiTimer() const;
    PollTimer *blueTimer() const;

    bool writeRequest(const QByteArray &bytes) { return m_producer.put(bytes) != 0; }
    bool removeRequest() { return m_producer.remove(); }
    bool listen(const QHostAddress &address) { return m_far->listen(address, m_port); }

    // The log shows its lines in batches: a mark takes in every line reported so far.
    Mark mark();
    QStringList wifiSince(const Mark &from) const { return m_wifiLines.mid(from.wifiLines); }
    QStringList blueSince(const Mark &from) const;
    QList<FarSide::Datagram> datagramsSince(const Mark &from) const
    {
        return m_far->datagramsSince(from.far);
    }
    QByteArray serialSince(const Mark &from) const { return m_far->serialSince(from.far); }
    // Waits until whatever both windows have sent so far has arrived.
    bool catchUp();

private:
    QTemporaryDir m_dir;
    quint16 m_port;
    std::unique_ptr<FarSide> m_far;
    Producer m_producer;
    std::unique_ptr<wifi> m_wifi;
    std::unique_ptr<blue> m_blue;
    ListBox *m_log = nullptr;
    QStringList m_wifiLines;
};
