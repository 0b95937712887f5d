#pragma once

#include "mqtttopics.h"
#include "relayfacts.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// The relay's facts on the broker, all retained: PREFIX/output/<key> says ON or OFF for each
// output's connectivity, PREFIX/activity holds the last request, the last command and the
// commands sent (JSON), and PREFIX/health the whole (JSON, at most every few seconds). The hub is
// told of them as diagnostic entities of the relay's device.
namespace DiagnosticMessages {
QByteArray connectivity(bool connected);
QByteArray activity(const RelayFacts &facts);
QByteArray health(const RelayFacts &facts);

// The discovery configs of the entities, as component/object id and config, beside the
// switches; `device` and `availability` as theirs.
struct Entity {
    QString component; // "binary_sensor" or "sensor"
    QString objectId;
    QJsonObject config;
};
QList<Entity> entities(const MqttTopics &topics, const QString &node, const QStringList &outputKeys,
                       const QJsonObject &device, const QJsonValue &availability);
// Object ids alone, for withdrawing what was announced with `outputKeys`.
QList<Entity> withdrawn(const QStringList &outputKeys);
} // namespace DiagnosticMessages
