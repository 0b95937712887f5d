#pragma once

#include "pollcycle.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

// Writes `bytes` as they are (already GBK) to `path`.
inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// Records every report and send in one list, so tests can check their order.
class Recorder : public StatusSink, public Transport {
public:
    void report(const QString &line) override { events << QStringLiteral("report:") + line; }
    bool send(const QString &command) override
    {
        events << QStringLiteral("send:") + command;
        return sendSucceeds;
    }
    QString errorString() const override { return QStringLiteral("线路不通"); }

    QStringList events;
    bool sendSucceeds = true;
};
