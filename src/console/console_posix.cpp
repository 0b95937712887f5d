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

void onSignal(int)
{
    const char signalled = 1;
    [[maybe_unused]] const auto written = ::write(signalPair[1], &signalled, 1);
}
} // namespace

// The handler only writes a byte; the event loop reads it and quits.
QuitOnSignals::QuitOnSignals(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPair) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPair[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

QuitOnSignals::~QuitOnSignals() = default;
