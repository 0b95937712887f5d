#pragma once

// What the window benchmark measures with, apart from the windows themselves: clocks and
// statistics, the longest gap between beats, other load on the machine, a display, a name server
// that never answers, and the lines a measuring run hands back to the run that started it.

#include <QByteArray>
#include <QString>

#include <atomic>
#include <pthread.h>
#include <sys/types.h>
#include <thread>
#include <vector>

qint64 nowNs();
void sleepMs(int ms);
double median(std::vector<double> values);
double percentile(std::vector<double> values, double p);

double processCpuSeconds();
double threadCpuSeconds(pthread_t thread);
long residentKiB();

// A UDP port of loopback that nobody holds right now.
quint16 freeUdpPort();

// The load averages over 1, 5 and 15 minutes, as the kernel gives them.
QByteArray loadAverage();

// The longest interval between consecutive beats since the last reset; the moment of the reset
// counts as a beat, so that a thread held from then on shows its whole stall.
class GapMeter {
public:
    void beat(qint64 atNs);
    void reset(qint64 atNs)
    {
        m_last = atNs;
        m_longest = 0;
    }
    double longestMs() const { return m_longest / 1e6; }

private:
    qint64 m_last = 0, m_longest = 0;
};

// A bare 1 ms loop on a thread of its own, from construction to destruction: the longest gap
// between its beats is how long the machine itself keeps a waiting thread from running, the floor
// under every gap measured beside it.
class BareBeat {
public:
    BareBeat();
    ~BareBeat();
    BareBeat(const BareBeat &) = delete;
    BareBeat &operator=(const BareBeat &) = delete;

    double longestMs() const { return m_longest / 1e6; }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_longest{0};
    std::thread m_thread;
};

// Busy-looping processes at a lower priority, the load of other programs on the machine. They end
// with this object, or with the process that started them.
class Hogs {
public:
    Hogs(int count, int niceness);
    ~Hogs();
    Hogs(const Hogs &) = delete;
    Hogs &operator=(const Hogs &) = delete;

    const std::vector<pid_t> &pids() const { return m_pids; }

private:
    std::vector<pid_t> m_pids;
};

// A virtual X server of its own, on the first free display.
class Xvfb {
public:
    Xvfb();
    ~Xvfb();
    Xvfb(const Xvfb &) = delete;
    Xvfb &operator=(const Xvfb &) = delete;

    // Empty when the server could not be started.
    QByteArray display() const { return m_display; }

private:
    pid_t m_pid = -1;
    QByteArray m_display;
};

// A name server on a loopback address that takes every query and answers none, so that a lookup
// sent to it waits out the resolver's whole timeout.
class SilentNameServer {
public:
    explicit SilentNameServer(quint16 port = 53);
    ~SilentNameServer();
    SilentNameServer(const SilentNameServer &) = delete;
    SilentNameServer &operator=(const SilentNameServer &) = delete;

    bool isListening() const { return m_fd >= 0; }
    QByteArray address() const { return m_address; }
    quint16 port() const { return m_port; }
    // A resolv.conf naming only this server, with the resolver's usual timeout and attempts.
    QByteArray resolvConf() const;
    // The queries that arrived since the last call.
    int takeQueries();

private:
    int m_fd = -1;
    QByteArray m_address;
    quint16 m_port = 0;
};

// A measuring run hands each figure back as one line "= key value" among its other output.
QByteArray figureLine(const QByteArray &key, double value);
// Parses one line of output: true, with key and value set, for a figure line.
bool parseFigureLine(const QByteArray &line, QByteArray *key, double *value);

// The share of one core that the system calls of a standing request take on their own, in a bare
// loop on a thread of its own for `seconds`: a wake-up each millisecond, and in each the two
// windows' looks at `directory`/api.txt (stat, open, fstat, read, close), one datagram of a command
// to loopback `port`, and the serial line's stat, poll and write of it on `device`. What the
// windows cost beyond this is theirs.
double bareCycleShare(const QByteArray &directory, quint16 port, const QByteArray &device,
                      int seconds);

// A bound a figure must keep, or none for a figure that only informs.
struct Target {
    enum Kind { AtMost, AtLeast, None } kind;
    double bound;
    bool isMetBy(double value) const
    {
        return kind == None || (kind == AtMost ? value <= bound : value >= bound);
    }
    QString text(const char *unit) const;
};
