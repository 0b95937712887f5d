#pragma once

#include "launch.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>
#include <csignal>

// One of the project's programs run as a user starts it, its output read as it comes.
class Program {
public:
    static constexpr int Patience = Launch::Patience;

    explicit Program(const Launch &launch) { launch.start(m_process); }
    Program(const QString &executable, const QStringList &arguments)
        : Program(Launch{executable, arguments})
    {
    }
    ~Program()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    QString output() { return m_output += QString::fromUtf8(m_process.readAllStandardOutput()); }
    QString error() { return m_error += QString::fromUtf8(m_process.readAllStandardError()); }
    // True once standard error holds `text`; false if the program ends or takes too long first.
    bool waitForError(const QString &text)
    {
        return QTest::qWaitFor([&] { return error().contains(text) || !isRunning(); }, Patience) &&
               error().contains(text);
    }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 processId() const { return m_process.processId(); }

    void signal(int number) { ::kill(pid_t(processId()), number); }
    bool waitForExit(int patience = Patience) { return m_process.waitForFinished(patience); }
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }

private:
    QProcess m_process;
    QString m_output;
    QString m_error;
};
