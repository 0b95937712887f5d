#include "outputs.h"

#include "errors.h"
#include "relaychanges.h"

#include <QUdpSocket>
#include <algorithm>

namespace {
constexpr int LookUpAgainMs = 30000;
constexpr int LookAtTheLineMs = 1000;
} // namespace

Output::Output(RelayLog &log, QObject *parent)
    : QObject(parent)
    , m_log(log)
    , m_failures(log)
{
}

const Result<Delivery> &Output::deliver(const QString &command)
{
    m_delivered = send(command);
    return *m_delivered;
}

void Output::book()
{
    if (!m_delivered)
        return;
    const Result<Delivery> delivered = std::move(*m_delivered);
    m_delivered.reset();
    m_refused = !delivered;
    if (!delivered) {
        ++m_refusals;
        m_lastFailure = delivered.error();
        const bool began = !m_failures.isFailing();
        m_failures.failed(name() + QStringLiteral(" 发送失败"), delivered.error());
        if (began)
            emit failingChanged();
    } else if (*delivered == Delivery::Busy) {
        ++m_skipped;
        ++m_skips;
    } else {
        ++m_sent;
        ++m_sends;
        if (m_failures.isFailing()) {
            m_failures.ended(name());
            emit failingChanged();
        }
    }
    checkConnectivity();
}

void Output::checkConnectivity()
{
    const bool connected = isReachable() && !m_refused;
    if (connected == m_connected)
        return;
    m_connected = connected;
    emit connectivityChanged();
}

OutputFacts Output::facts() const
{
    OutputFacts facts;
    facts.name = name();
    facts.connected = m_connected;
    facts.sends = m_sends;
    facts.skipped = m_skips;
    facts.failures = m_refusals;
    facts.lastFailure = m_lastFailure;
    return facts;
}

QString Output::tally() const
{
    QString line = QStringLiteral("%1 发送 %2 次").arg(name()).arg(m_sent);
    if (m_skipped > 0)
        line += QStringLiteral("（线路忙，跳过 %1 次）").arg(m_skipped);
    return line;
}

void Output::openBooks()
{
    m_sent = 0;
    m_skipped = 0;
}

Outputs::Outputs(RelayLog &log, QObject *parent)
    : QObject(parent)
    , m_log(log)
{
}

Outputs::~Outputs() = default;

Result<void> Outputs::reload(const RelayOptions &before, const RelayOptions &after)
{
    Sockets sockets;
    UdpOutputs added;
    if (const Result<void> bound = addUdp(after.udp, sockets, added); !bound)
        return bound;
    takeUdp(after.udp, sockets, added);
    if (!sameSerialLine(before, after)) {
        m_serial.reset();
        if (!after.serialDevices.isEmpty())
            m_serial = std::make_unique<SerialOutput>(after, m_log);
    }
    m_outputs.clear();
    for (const std::unique_ptr<UdpOutput> &output : m_udp)
        m_outputs.push_back(output.get());
    if (m_serial)
        m_outputs.push_back(m_serial.get());
    for (Output *output : m_outputs)
        connect(output, &Output::connectivityChanged, this, &Outputs::changed,
                Qt::UniqueConnection);
    emit changed();
    return {};
}

// Each destination without an output gets one, bound to a port a running output has already or to
// a socket of its own in `sockets`, beside the outputs that run; the caller drops both on failure.
Result<void> Outputs::addUdp(const QList<UdpDestination> &destinations, Sockets &sockets,
                             UdpOutputs &added) const
{
    for (const UdpDestination &destination : destinations) {
        if (std::any_of(m_udp.begin(), m_udp.end(),
                        [&](const auto &output) { return output->destination() == destination; }))
            continue;
        const auto running = m_sockets.find(destination.port);
        QUdpSocket *socket = running != m_sockets.end() ? running->second.get() : nullptr;
        if (!socket) {
            std::unique_ptr<QUdpSocket> &own = sockets[destination.port];
            if (!own)
                own = std::make_unique<QUdpSocket>();
            socket = own.get();
        }
        added.push_back(std::make_unique<UdpOutput>(destination, *socket, m_log));
        if (const Result<void> started = added.back()->start(); !started)
            return Failure(QStringLiteral("%1：本机端口无法使用（%2）")
                               .arg(added.back()->name(), started.error()));
    }
    if (added.empty())
        return {};
    // The request file is opened on every tick and the settings on every reload: outputs that
    // would take the last file descriptor the relay may have are not added.
    QUdpSocket probe;
    if (!probe.bind(QHostAddress::LocalHost, 0))
        return Failure(QStringLiteral("加上这些输出后，没有余下的文件描述符读取请求文件（%1）")
                           .arg(Errors::socket(probe.error())));
    return {};
}

// The outputs in the order of `destinations`, those that run kept and the `added` ones taken in;
// the others go, and so does a socket no destination uses any more, freeing its port.
void Outputs::takeUdp(const QList<UdpDestination> &destinations, Sockets &sockets,
                      UdpOutputs &added)
{
    UdpOutputs outputs;
    auto next = added.begin();
    for (const UdpDestination &destination : destinations) {
        const auto running = std::find_if(m_udp.begin(), m_udp.end(), [&](const auto &output) {
            return output && output->destination() == destination;
        });
        outputs.push_back(std::move(running != m_udp.end() ? *running : *next++));
    }
    m_udp = std::move(outputs);
    m_sockets.merge(sockets);
    for (auto socket = m_sockets.begin(); socket != m_sockets.end();) {
        const bool used = std::any_of(m_udp.begin(), m_udp.end(), [&](const auto &output) {
            return output->destination().port == socket->first;
        });
        socket = used ? std::next(socket) : m_sockets.erase(socket);
    }
}

Result<Delivery> Outputs::send(const QString &command)
{
    Result<Delivery> outcome = Delivery::Sent;
    m_took = false;
    if (command.isEmpty())
        return outcome;
    m_took = m_outputs.empty();
    for (Output *output : m_outputs) {
        const Result<Delivery> &delivered = output->deliver(command);
        if (outcome && (!delivered || *delivered == Delivery::Busy))
            outcome = delivered;
        m_took = m_took || (delivered && *delivered == Delivery::Sent);
    }
    return outcome;
}

void Outputs::book()
{
    for (Output *output : m_outputs)
        output->book();
}

void Outputs::openBooks()
{
    for (Output *output : m_outputs)
        output->openBooks();
}

QStringList Outputs::tallies() const
{
    QStringList tallies;
    for (const Output *output : m_outputs)
        tallies << output->tally();
    return tallies;
}

std::vector<OutputFacts> Outputs::facts() const
{
    std::vector<OutputFacts> facts;
    for (const Output *output : m_outputs)
        facts.push_back(output->facts());
    return facts;
}

QStringList Outputs::failing() const
{
    QStringList failing;
    for (const Output *output : m_outputs) {
        if (output->isFailing())
            failing << output->name();
    }
    return failing;
}

UdpOutput::UdpOutput(const UdpDestination &destination, QUdpSocket &socket, RelayLog &log,
                     QObject *parent)
    : Output(log, parent)
    , m_destination(destination)
    , m_transport(socket)
{
    connect(&m_lookup, &HostLookup::finished, this, &UdpOutput::lookedUp);
}

Result<void> UdpOutput::start()
{
    if (const Result<void> bound = m_transport.bind(m_destination.port); !bound)
        return bound;
    const QHostAddress address(m_destination.host);
    if (address.isNull()) {
        m_lookup.start(m_destination.host);
    } else {
        m_transport.setDestination(address);
        m_address = Address::Known;
    }
    checkConnectivity();
    return {};
}

QString UdpOutput::name() const
{
    return QStringLiteral("UDP %1:%2").arg(m_destination.host).arg(m_destination.port);
}

OutputFacts UdpOutput::facts() const
{
    OutputFacts facts = Output::facts();
    facts.key = OutputFacts::udpKey(m_destination.host, m_destination.port);
    return facts;
}

// Skipped while the host is being looked up.
Result<Delivery> UdpOutput::send(const QString &command)
{
    switch (m_address) {
    case Address::Looking:
        return Delivery::Busy;
    case Address::Unknown:
        return Failure(QStringLiteral("找不到主机“%1”").arg(m_destination.host));
    case Address::Known:
        break;
    }
    return m_transport.send(command);
}

void UdpOutput::lookedUp(const QList<QHostAddress> &addresses)
{
    const std::optional<QHostAddress> address = UdpTransport::firstIPv4(addresses);
    if (!address) {
        m_address = Address::Unknown;
        m_lookup.retryIn(LookUpAgainMs);
        checkConnectivity();
        return;
    }
    m_transport.setDestination(*address);
    m_address = Address::Known;
    checkConnectivity();
    m_log.event(QStringLiteral("%1：主机“%2”的地址是 %3")
                    .arg(name(), m_destination.host, address->toString()));
}

SerialOutput::SerialOutput(const RelayOptions &options, RelayLog &log, QObject *parent)
    : Output(log, parent)
    , m_auto(options.serialAuto)
    , m_given(options.serialDevices.first())
    , m_transport(&m_port, options.serialDevices, options.baudRate)
{
    m_watch.setInterval(LookAtTheLineMs);
    connect(&m_watch, &QTimer::timeout, this, &SerialOutput::look);
}

QString SerialOutput::name() const
{
    if (!m_device.isEmpty())
        return QStringLiteral("串口 %1").arg(m_device);
    return m_auto ? QStringLiteral("串口（自动）") : QStringLiteral("串口 %1").arg(m_given);
}

void SerialOutput::book()
{
    const QString device = m_transport.device();
    if (!device.isEmpty() && device != m_device) {
        m_log.event(
            m_device.isEmpty()
                ? QStringLiteral("串口 %1 已打开（%2 波特 8N1）").arg(device).arg(m_port.baudRate())
                : QStringLiteral("串口从 %1 改到 %2").arg(m_device, device));
        m_device = device;
    }
    Output::book();
    // Started and stopped only as the connectivity changes, never per command.
    if (isConnected() != m_watch.isActive())
        isConnected() ? m_watch.start() : m_watch.stop();
}

OutputFacts SerialOutput::facts() const
{
    OutputFacts facts = Output::facts();
    facts.key = OutputFacts::serialKey();
    facts.serial = true;
    return facts;
}

Result<Delivery> SerialOutput::send(const QString &command)
{
    m_gone = false;
    return m_transport.send(command);
}

// The next command opens the line afresh, wherever the device is by then.
void SerialOutput::look()
{
    if (m_transport.isPresent())
        return;
    m_gone = true;
    m_watch.stop();
    checkConnectivity();
}
