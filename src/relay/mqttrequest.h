#pragma once

#include "result.h"

#include <QByteArray>
#include <QString>

// A request that came over MQTT, and the command it asks for.
struct MqttRequest {
    QString request;
    QString command;
};

// UTF-8, or GBK where it is not valid UTF-8; only the first field counts, as in the file. Fails,
// saying why, for a payload past the request file's bound or a request without a command.
Result<MqttRequest> mqttRequest(const QByteArray &payload);
