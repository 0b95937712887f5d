#include "console.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
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
int signalPair[2] = {-1, -1};

void onSignal(int number)
{
    const char signalled = char(number);
    [[maybe_unused]] const auto written = ::write(signalPair[1], &signalled, 1);
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

// The handler only writes the signal's number; the event loop reads it and acts.
QuitOnSignals::QuitOnSignals(QCoreApplication &app)
{
    ::signal(SIGPIPE, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPair) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPair[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, &app] {
        char number = 0;
        if (::read(signalPair[0], &number, 1) == 1 && number == SIGHUP)
            emit reloadAsked();
        else
            app.quit();
    });
    handle(SIGINT);
    handle(SIGTERM);
}

QuitOnSignals::~QuitOnSignals() = default;

void QuitOnSignals::reloadOnHangUp()
{
    if (signalPair[0] >= 0)
        handle(SIGHUP);
}
