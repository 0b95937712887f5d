#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdio>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

// A pseudo-terminal standing in for a serial device: the code under test opens the slave by its
// path, the test reads what arrives on the master.
class PseudoTerminal {
public:
    PseudoTerminal()
    {
        char name[256] = {};
        if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) == 0) {
            ::fcntl(m_master, F_SETFL, O_NONBLOCK);
            // A child process must not keep the far side open after closeMaster().
            ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
            ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
            m_slavePath = QString::fromLocal8Bit(name);
        }
    }
    ~PseudoTerminal()
    {
        closeMaster();
        if (m_slave >= 0)
            ::close(m_slave);
    }
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    int slave() const { return m_slave; }

    // Everything that has arrived so far, without waiting.
    QByteArray read()
    {
        QByteArray bytes;
        char buffer[4096];
        ssize_t count;
        while (m_master >= 0 && (count = ::read(m_master, buffer, sizeof buffer)) > 0)
            bytes.append(buffer, count);
        return bytes;
    }

    // Bytes arriving from the far side, as an appliance would send them.
    bool write(const QByteArray &bytes)
    {
        return m_master >= 0 && ::write(m_master, bytes.constData(), bytes.size()) == bytes.size();
    }

    // The far side goes away, as when a Bluetooth link drops.
    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};

// Points the symbolic link `link` at `target`, switched in one step as udev would.
inline bool pointLink(const QString &link, const QString &target)
{
    const QString fresh = link + QStringLiteral(".new");
    QFile::remove(fresh);
    return QFile::link(target, fresh) && std::rename(QFile::encodeName(fresh).constData(),
                                                     QFile::encodeName(link).constData()) == 0;
}
