#include "console.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

void writeText(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written =
            ::write(::fileno(stream), bytes.constData() + done, size_t(bytes.size() - done));
        if (written <= 0)
            return;
        done += written;
    }
}

namespace {
// Between a reload and the next at least this long: a burst of hang-ups is a few reloads, not one
// each.
constexpr int ReloadPauseMs = 250;

volatile std::sig_atomic_t quitSignalled = 0;
volatile std::sig_atomic_t reloadSignalled = 0;
int wakePipe[2] = {-1, -1};

// Async-signal-safe and never blocking: a full pipe means a wake is pending already.
void onSignal(int number)
{
    const int savedErrno = errno;
    if (number == SIGHUP)
        reloadSignalled = 1;
    else
        quitSignalled = 1;
    const char wake = 0;
    [[maybe_unused]] const auto written = ::write(wakePipe[1], &wake, 1);
    errno = savedErrno;
}

void handle(int number)
{
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(number, &action, nullptr);
}
} // namespace

// The handler only raises a flag and wakes the event loop, which drains the wakes and acts once.
QuitOnSignals::QuitOnSignals(QCoreApplication &app)
{
    ::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(wakePipe, O_NONBLOCK | O_CLOEXEC) != 0)
        return;
    auto *notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, this);
    auto *pause = new QTimer(this);
    pause->setSingleShot(true);
    pause->setInterval(ReloadPauseMs);
    const auto act = [this, &app, pause] {
        char drained[256];
        while (::read(wakePipe[0], drained, sizeof drained) > 0) {
        }
        if (quitSignalled) {
            app.quit();
        } else if (reloadSignalled && !pause->isActive()) {
            reloadSignalled = 0;
            pause->start();
            emit reloadAsked();
        }
    };
    connect(notifier, &QSocketNotifier::activated, this, act);
    connect(pause, &QTimer::timeout, this, act);
    handle(SIGINT);
    handle(SIGTERM);
}

QuitOnSignals::~QuitOnSignals() = default;

void QuitOnSignals::reloadOnHangUp()
{
    if (wakePipe[0] >= 0)
        handle(SIGHUP);
}
