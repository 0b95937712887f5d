#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// How a test or a benchmark starts one of the project's programs as a user starts it, each start
// saying only what differs from the plain one. Built for another machine, the program runs in that
// machine's emulator, MORVANE_EMULATOR (a command line), as the tests themselves do.
struct Launch {
    static constexpr int Patience = 30000;

    Launch(const QString &executable, const QStringList &arguments,
           QProcess::ProcessChannelMode channels = QProcess::SeparateChannels)
        : executable(executable)
        , arguments(arguments)
        , channels(channels)
    {
    }

    void start(QProcess &process) const
    {
        process.setProcessChannelMode(channels);
        if (!additions.isEmpty()) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(additions);
            process.setProcessEnvironment(environment);
        }
        const QStringList emulator =
            qEnvironmentVariable("MORVANE_EMULATOR").split(u' ', Qt::SkipEmptyParts);
        if (emulator.isEmpty())
            process.start(executable, arguments);
        else
            process.start(emulator.first(), emulator.mid(1) + QStringList{executable} + arguments);
    }
    // False if the program could not be started in time.
    bool started(QProcess &process) const
    {
        start(process);
        return process.waitForStarted(Patience);
    }

    QString executable;
    QStringList arguments;
    QProcess::ProcessChannelMode channels;
    QProcessEnvironment additions; // to the environment the test or benchmark runs in
};
