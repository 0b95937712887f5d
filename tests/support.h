#pragma once

#include "pollcycle.h"

#include <QByteArray>
#include <QEventLoop>
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

// The GBK bytes of the requests the tests write and the commands they expect.
namespace Bytes {
inline const QByteArray TurnOn = QByteArray::fromHex("B4F2BFAABFD5B5F7");           // 打开空调
inline const QByteArray TurnOff = QByteArray::fromHex("B9D8B1D5BFD5B5F7");          // 关闭空调
inline const QByteArray TurnOffTv = QByteArray::fromHex("B9D8B1D5B5E7CAD3");        // 关闭电视
inline const QByteArray On = QByteArray::fromHex("BFD5B5F73DC6F4B6AF");             // 空调=启动
inline const QByteArray Off = QByteArray::fromHex("BFD5B5F73DB9D8B1D5");            // 空调=关闭
inline const QByteArray TvOff = QByteArray::fromHex("B5E7CAD33DB9D8B1D5");          // 电视=关闭
inline const QByteArray HighBeamOn = QByteArray::fromHex("BDFCB9E2B5C63DC6F4B6AF"); // 近光灯=启动
} // namespace Bytes

// Writes `bytes` as they are to `path`.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// Puts a request into "api.txt" in `directory` as a careful producer does: written whole under
// another name, then renamed over the old one, so that a reader finds the old file, none, or all
// of the new one.
inline bool writeRequest(const QString &directory, const QByteArray &bytes)
{
    QSaveFile file(directory + QStringLiteral("/api.txt"));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

// The tests' mark in a stream: a byte no command holds, sent after everything else on a line or to
// a socket, where it arrives after all of it.
constexpr char Sentinel = '#';

inline bool removeRequest(const QString &directory)
{
    return QFile::remove(directory + QStringLiteral("/api.txt"));
}

// Runs the event loop the way the program's own does, so that 1 ms timers tick at their full rate,
// until `done` holds; false if it still does not after a generous wait.
inline bool runUntil(const std::function<bool()> &done, int patience = 60000)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(1);
    QTimer::singleShot(patience, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
    return done();
}

// Records every command sent in a list, where a test may put the lines it reports too.
class Recorder : public Transport {
public:
    Result<Delivery> send(const QString &command) override
    {
        events << QStringLiteral("send:") + command;
        return answer;
    }

    QStringList events;
    Result<Delivery> answer = Delivery::Sent;
};
