#pragma once

#include "result.h"

#include <QString>

// Where the relay's broker is and how to speak to it.
struct MqttSettings {
    QString host;
    quint16 port = 1883;
    QString user, password;
    QString prefix = QStringLiteral("morvane");
    bool tls = false;
    QString caFile; // empty: the system's CA certificates
    // Seconds without a word from the broker before it is asked whether it is there; as long again
    // without an answer and the connection is given up, so a hung broker is noticed within twice
    // this and a second.
    int keepAlive = 5;
    enum class Encoding { Utf8, Gbk } encoding = Encoding::Utf8;
    // Where a hub looks for devices to discover ("homeassistant"); empty: the relay is not
    // announced, and an announcement made before is withdrawn.
    QString discoveryPrefix;
    // What tells this relay from another of the same machine and prefix (--instance); empty for
    // one alone.
    QString instance;
    // The client id the user gave, used as it is: a relay moved to another machine keeps its id.
    QByteArray givenClientId;

    // mqtt://[USER@]HOST[:PORT][/PREFIX] or mqtts:// (port 8883); why not (naming what was typed)
    // for anything else, including mqtts:// where the build has no TLS.
    static Result<MqttSettings> fromUrl(const QString &url);
    // A prefix every topic of the relay can be made from; why not, naming what is wrong: a
    // wildcard, a leading `$` (the broker's own topics), an empty level, a control character (NUL
    // included) or one of bidirectional text, or more bytes than a topic may hold.
    static Result<QString> checkedPrefix(const QString &prefix);
    // 1 to 23 letters and digits, as every relay's client id is, made or given.
    static bool isClientId(const QString &id);
    // Whether this build speaks TLS (OpenSSL on Linux; the Windows build has none).
    static bool hasTls();

    // The one given, or one made from the machine, the prefix and the instance (never from the
    // outputs, so that the hub keeps its device when they change): stable, so that a relay started
    // again after a crash takes over its old connection at once (whose will would otherwise mark it
    // offline once the broker gives up on it); 23 letters and digits, which every broker must
    // accept.
    QByteArray clientId() const;
};
