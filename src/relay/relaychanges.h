#pragma once

#include "relayoptions.h"

#include <QString>
#include <QStringList>

// How the log names each output: "UDP 127.0.0.1:8888（本机端口 8888）", "串口 /dev/rfcomm0（9600
// 波特 8N1）", "MQTT mqtt://h:1883（主题前缀 morvane）".
QString udpLine(const UdpDestination &destination);
// Empty without a serial output.
QString serialLine(const RelayOptions &options);
// Empty without a broker.
QString brokerLine(const RelayOptions &options);

// Every output of `options`, as the line that tells the start names them.
QString outputsLine(const RelayOptions &options);
// Where the requests come from: the request file and its beat, or MQTT only.
QString requestsLine(const RelayOptions &options);
// The status line: what is served, and the outputs of `failing` that fail to send.
QString statusLine(const RelayOptions &options, const QStringList &failing);

bool operator==(const UdpDestination &one, const UdpDestination &other);
bool sameSerialLine(const RelayOptions &one, const RelayOptions &other);
bool sameBroker(const RelayOptions &one, const RelayOptions &other);

// What differs from `before` to `after`, for the line that tells a reload: "加上 UDP …",
// "去掉 串口 …", "每 5 毫秒查看一次"; empty when nothing does.
QStringList changes(const RelayOptions &before, const RelayOptions &after);
// The line that tells a reload, with those changes.
QString reloadLine(const RelayOptions &before, const RelayOptions &after);
