#include "supervisor.h"

#include "console.h"
#include "errors.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>
#include <utility>
#include <vector>

// systemd is told through sd_notify(), which does nothing without NOTIFY_SOCKET. A reload is asked
// by `morvane-relay --reload $MAINPID` (the unit's ExecReload=): it queues AskSignal to the relay
// and waits for the same signal back, queued once the settings are read, so that systemctl reload
// returns when they are in force. systemd 252 has no Type=notify-reload, and a minimal system has
// no /bin/kill.
namespace {
constexpr int AskSignal = SIGUSR1;
// The answer's value.
enum Answer { Refused = 0, Took = 1 };
constexpr int PatienceSeconds = 60;

int askPipe[2] = {-1, -1};
// Who asked for the reload under way: each is answered when it is done.
std::vector<pid_t> askers;

// Only a queued signal expects an answer; one sent with kill(1) reloads all the same.
void onAsk(int, siginfo_t *info, void *)
{
    const int savedErrno = errno;
    const pid_t asker = info->si_code == SI_QUEUE ? info->si_pid : 0;
    [[maybe_unused]] const auto written = ::write(askPipe[1], &asker, sizeof asker);
    errno = savedErrno;
}

void notify(const QByteArray &state)
{
    sd_notify(0, state.constData());
}
} // namespace

Supervisor::Supervisor(QObject *parent)
    : QObject(parent)
{
    auto *watchdog = new QTimer(this);
    QSocketNotifier *asks = nullptr;
    if (::pipe2(askPipe, O_CLOEXEC | O_NONBLOCK) == 0)
        asks = new QSocketNotifier(askPipe[0], QSocketNotifier::Read, this);

    uint64_t watchdogUsec = 0;
    // The pings come from the event loop's own thread: a loop that hangs stops them.
    if (sd_watchdog_enabled(0, &watchdogUsec) > 0) {
        connect(watchdog, &QTimer::timeout, this, [] { notify("WATCHDOG=1"); });
        watchdog->start(std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::microseconds(watchdogUsec / 2)));
    }
    if (!asks)
        return;
    connect(asks, &QSocketNotifier::activated, this, [this] {
        pid_t asker = 0;
        if (::read(askPipe[0], &asker, sizeof asker) != sizeof asker)
            return;
        if (asker > 0)
            askers.push_back(asker);
        emit reloadAsked();
    });
    struct sigaction action = {};
    action.sa_sigaction = onAsk;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    ::sigaction(AskSignal, &action, nullptr);
}

Supervisor::~Supervisor() = default;

// systemd hears of the end of the reload before those who asked for it.
void Supervisor::ready(bool took)
{
    notify("READY=1");
    sigval answer = {};
    answer.sival_int = took ? Took : Refused;
    for (const pid_t asker : std::exchange(askers, {}))
        ::sigqueue(asker, AskSignal, answer);
}

void Supervisor::reloading()
{
    timespec now = {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    notify("RELOADING=1\nMONOTONIC_USEC=" +
           QByteArray::number(qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000));
}

void Supervisor::stopping()
{
    notify("STOPPING=1");
}

void Supervisor::status(const QString &line)
{
    notify("STATUS=" + escaped(line).toUtf8());
}

// The answer is awaited with the signal blocked, so that it stays queued until taken.
Result<void> Supervisor::askToReload(qint64 processId)
{
    const auto relay = pid_t(processId);
    sigset_t answers;
    sigemptyset(&answers);
    sigaddset(&answers, AskSignal);
    ::pthread_sigmask(SIG_BLOCK, &answers, nullptr);
    if (::sigqueue(relay, AskSignal, sigval{}) != 0)
        return Failure(QStringLiteral("无法请进程 %1 重新读取设置：%2")
                           .arg(processId)
                           .arg(Errors::system(errno)));
    for (int second = 0; second < PatienceSeconds; ++second) {
        const timespec wait = {1, 0};
        siginfo_t info = {};
        if (::sigtimedwait(&answers, &info, &wait) == AskSignal && info.si_pid == relay &&
            info.si_code == SI_QUEUE) {
            if (info.si_value.sival_int == Took)
                return {};
            return Failure(
                QStringLiteral("进程 %1 没有接受新的设置，仍按原来的运行（原因见它的日志）")
                    .arg(processId));
        }
        if (::kill(relay, 0) != 0 && errno == ESRCH)
            return Failure(QStringLiteral("进程 %1 在重新读取设置前结束了").arg(processId));
    }
    return Failure(
        QStringLiteral("进程 %1 在 %2 秒内没有读完设置").arg(processId).arg(PatienceSeconds));
}
