#pragma once

#include "mqttsettings.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

// Every topic the relay speaks on and every word it says there, named once, so that the link, its
// connection, the neighbours and the discovery config a hub reads all name the same ones.
struct MqttTopics {
    explicit MqttTopics(const MqttSettings &settings);

    const QString request;   // PREFIX/request: what anyone asks for
    const QString command;   // PREFIX/command: every command sent
    const QString status;    // PREFIX/status: Online or Offline, retained; the will says Offline
    const QString hello;     // PREFIX/hello: the greetings of relays on the same prefix
    const QString discovery; // PREFIX/discovery: what was announced to a hub last, retained
    const QString hubStatus; // DPREFIX/status: Online when the hub is back; empty without a hub
    const QString activity;  // PREFIX/activity: the last request and command, the commands sent
    const QString health;    // PREFIX/health: all the relay tells of itself (JSON), retained

    // PREFIX/state/APPLIANCE: stateWord(), retained.
    QString state(QStringView appliance) const;
    // PREFIX/output/KEY: Connected or Disconnected, retained, whether the output works.
    QString output(const QString &key) const;
    // DPREFIX/COMPONENT/NODE/ID/config: where a hub reads what an entity is.
    static QString config(const QString &discoveryPrefix, const QString &component,
                          const QString &node, const QString &id);
    // An appliance's switch id: its word in hexadecimal UTF-8.
    static QString applianceId(QStringView appliance);

    static inline const QByteArray Online = QByteArrayLiteral("online");
    static inline const QByteArray Offline = QByteArrayLiteral("offline");
    static inline const QByteArray Connected = QByteArrayLiteral("ON");
    static inline const QByteArray Disconnected = QByteArrayLiteral("OFF");
    // 启动 or 关闭, as the command says it.
    static QString stateWord(bool on);
    // 打开APPLIANCE or 关闭APPLIANCE, a request on PREFIX/request.
    static QString switchRequest(QStringView appliance, bool on);

private:
    const QString m_prefix;
};
