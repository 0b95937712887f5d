#include "relaychanges.h"

QString udpLine(const UdpDestination &destination)
{
    return QStringLiteral("UDP %1:%2（本机端口 %2）").arg(destination.host).arg(destination.port);
}

QString serialLine(const RelayOptions &options)
{
    if (options.serialDevices.isEmpty())
        return {};
    if (options.serialAuto)
        return QStringLiteral("串口 %1 中第一个存在的（%2 波特 8N1）")
            .arg(options.serialDevices.join(QStringLiteral("、")))
            .arg(options.baudRate);
    return QStringLiteral("串口 %1（%2 波特 8N1）")
        .arg(options.serialDevices.first())
        .arg(options.baudRate);
}

QString brokerLine(const RelayOptions &options)
{
    if (!options.mqtt)
        return {};
    return QStringLiteral("MQTT %1%2:%3（主题前缀 %4）")
        .arg(options.mqtt->tls ? u"mqtts://" : u"mqtt://", options.mqtt->host)
        .arg(options.mqtt->port)
        .arg(options.mqtt->prefix);
}

QString outputsLine(const RelayOptions &options)
{
    QStringList outputs;
    for (const UdpDestination &destination : options.udp)
        outputs << udpLine(destination);
    outputs << serialLine(options) << brokerLine(options);
    outputs.removeAll(QString());
    return outputs.join(QStringLiteral("、"));
}

bool operator==(const UdpDestination &one, const UdpDestination &other)
{
    return one.host == other.host && one.port == other.port;
}

bool sameSerialLine(const RelayOptions &one, const RelayOptions &other)
{
    return one.serialDevices == other.serialDevices && one.serialAuto == other.serialAuto &&
           one.baudRate == other.baudRate;
}

namespace {
// What of the broker's settings the log's line for it leaves out, and differs.
QStringList brokerDetails(const MqttSettings &one, const MqttSettings &other)
{
    QStringList details;
    if (one.user != other.user)
        details << QStringLiteral("用户");
    if (one.password != other.password)
        details << QStringLiteral("密码");
    if (one.caFile != other.caFile)
        details << QStringLiteral("CA 证书");
    if (one.encoding != other.encoding)
        details << QStringLiteral("编码");
    if (one.keepAlive != other.keepAlive)
        details << QStringLiteral("保活时间");
    if (one.discoveryPrefix != other.discoveryPrefix)
        details << QStringLiteral("发现前缀");
    if (one.clientId() != other.clientId())
        details << QStringLiteral("客户端标识");
    return details;
}
} // namespace

bool sameBroker(const RelayOptions &one, const RelayOptions &other)
{
    if (!one.mqtt || !other.mqtt)
        return !one.mqtt && !other.mqtt;
    return brokerLine(one) == brokerLine(other) && brokerDetails(*one.mqtt, *other.mqtt).isEmpty();
}

namespace {
// "加上 …", "去掉 …" or "改为 …" for an output that may be there before, after, or both.
void compare(QStringList &changes, const QString &before, const QString &after, bool same)
{
    if (same)
        return;
    if (before.isEmpty())
        changes << QStringLiteral("加上 %1").arg(after);
    else if (after.isEmpty())
        changes << QStringLiteral("去掉 %1").arg(before);
    else
        changes << QStringLiteral("%1 改为 %2").arg(before, after);
}
} // namespace

QStringList changes(const RelayOptions &before, const RelayOptions &after)
{
    QStringList changes;
    if (before.requestFile != after.requestFile)
        changes << (after.requestFile.isEmpty()
                        ? QStringLiteral("只收 MQTT 上的请求")
                        : QStringLiteral("请求文件改为 %1").arg(after.requestFile));
    if (before.interval != after.interval)
        changes << QStringLiteral("每 %1 毫秒查看一次").arg(after.interval);
    for (const UdpDestination &destination : before.udp) {
        if (!after.udp.contains(destination))
            changes << QStringLiteral("去掉 %1").arg(udpLine(destination));
    }
    for (const UdpDestination &destination : after.udp) {
        if (!before.udp.contains(destination))
            changes << QStringLiteral("加上 %1").arg(udpLine(destination));
    }
    compare(changes, serialLine(before), serialLine(after), sameSerialLine(before, after));
    const bool sameAddress = before.mqtt && after.mqtt && brokerLine(before) == brokerLine(after);
    if (sameAddress && !sameBroker(before, after))
        changes << QStringLiteral("MQTT 的%1改了，重新连接")
                       .arg(brokerDetails(*before.mqtt, *after.mqtt).join(u'、'));
    else
        compare(changes, brokerLine(before), brokerLine(after), sameBroker(before, after));
    if (before.quiet != after.quiet)
        changes << (after.quiet ? QStringLiteral("只记录失败") : QStringLiteral("记录每个事件"));
    return changes;
}

QString requestsLine(const RelayOptions &options)
{
    return !options.requestFile.isEmpty() ? QStringLiteral("请求文件 %1，每 %2 毫秒查看一次")
                                                .arg(options.requestFile)
                                                .arg(options.interval)
                                          : QStringLiteral("只收 MQTT 上的请求");
}

QString statusLine(const RelayOptions &options, const QStringList &failing)
{
    QString line = QStringLiteral("%1；输出 %2").arg(requestsLine(options), outputsLine(options));
    if (!failing.isEmpty())
        line += QStringLiteral("；发送失败：%1").arg(failing.join(QStringLiteral("、")));
    return line;
}

QString reloadLine(const RelayOptions &before, const RelayOptions &after)
{
    const QStringList changed = changes(before, after);
    return QStringLiteral("已重新读取设置：%1")
        .arg(changed.isEmpty() ? QStringLiteral("没有改动") : changed.join(QStringLiteral("；")));
}
