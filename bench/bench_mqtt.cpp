// Requests published on the tests' local mosquitto (tests/broker.sh), timed to the far side of the
// UDP output, for morvane-relay and the floor (a bare client that does nothing but subscribe and
// send the datagram, mqttfloor) taking turns request by request. At 10,000 requests a second, every
// datagram, and every command the relay publishes, is checked for loss and order. Prints
// "figure value unit" lines.
// bench_mqtt [TRIALS]
#include "broker.h"
#include "commandbuilder.h"
#include "gbk.h"
#include "launch.h"
#include "measure.h"
#include "udplistener.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <mosquitto.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
constexpr int Rate = 10000; // requests a second
constexpr int RateSeconds = 10;

// The far side: 127.0.0.1:port, shared with the relay's own socket on the port.
int farSide(quint16 port)
{
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const int buffer = 8 << 20;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    return s;
}

QByteArray receive(int s, int timeoutMs)
{
    timeval t{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    char buffer[2048];
    const ssize_t n = recv(s, buffer, sizeof buffer, 0);
    return n < 0 ? QByteArray() : QByteArray(buffer, n);
}

// Resident memory now and at its highest, in MB.
std::pair<double, double> residentMb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    std::pair<double, double> mb{0, 0};
    if (!status.open(QIODevice::ReadOnly))
        return mb;
    for (const QByteArray &line : status.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields[0] == "VmRSS:")
            mb.first = fields.value(1).toDouble() / 1024;
        if (fields[0] == "VmHWM:")
            mb.second = fields.value(1).toDouble() / 1024;
    }
    return mb;
}

// A client of the local broker on a thread of the library's own.
class Client {
public:
    explicit Client(void *owner)
        : m_client(mosquitto_new(nullptr, true, owner))
    {
        mosquitto_int_option(m_client, MOSQ_OPT_TCP_NODELAY, 1);
    }
    ~Client()
    {
        mosquitto_disconnect(m_client);
        mosquitto_loop_stop(m_client, false);
        mosquitto_destroy(m_client);
    }
    void connect(quint16 port)
    {
        mosquitto_connect(m_client, "127.0.0.1", port, 60);
        mosquitto_loop_start(m_client);
    }
    mosquitto *handle() const { return m_client; }

private:
    mosquitto *m_client;
};

class Publisher {
public:
    explicit Publisher(quint16 port)
        : m_client(nullptr)
    {
        mosquitto_max_inflight_messages_set(m_client.handle(), 0);
        m_client.connect(port);
    }
    void publish(const QByteArray &topic, const QByteArray &payload)
    {
        mosquitto_publish(m_client.handle(), nullptr, topic.constData(), int(payload.size()),
                          payload.constData(), 1, false);
    }

private:
    Client m_client;
};

// Every message of a topic from the moment the constructor returns. At QoS 0, which the broker
// passes on without a limit: at QoS 1 it keeps 1000 messages for a subscriber and drops what comes
// beyond, so that a bench thread held up for a tenth of a second at 10,000 a second would count
// as messages the relay lost.
class Subscriber {
public:
    Subscriber(quint16 port, const QByteArray &topic)
        : m_client(this)
    {
        mosquitto_subscribe_callback_set(
            m_client.handle(), [](mosquitto *, void *self, int, int, const int *) {
                static_cast<Subscriber *>(self)->m_subscribed.set_value();
            });
        mosquitto_message_callback_set(
            m_client.handle(), [](mosquitto *, void *self, const mosquitto_message *message) {
                auto *subscriber = static_cast<Subscriber *>(self);
                const std::lock_guard<std::mutex> lock(subscriber->m_mutex);
                subscriber->m_messages.emplace_back(static_cast<const char *>(message->payload),
                                                    message->payloadlen);
            });
        m_client.connect(port);
        mosquitto_subscribe(m_client.handle(), nullptr, topic.constData(), 0);
        m_subscribed.get_future().wait_for(std::chrono::seconds(5));
    }
    // What came, once nothing more has come for `quietMs`.
    std::vector<QByteArray> quietened(int quietMs)
    {
        for (size_t before = SIZE_MAX;;) {
            QThread::msleep(quietMs);
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_messages.size() == before)
                return std::move(m_messages);
            before = m_messages.size();
        }
    }

private:
    Client m_client;
    std::promise<void> m_subscribed;
    std::mutex m_mutex;
    std::vector<QByteArray> m_messages;
};

using Expectation = std::function<QByteArray(const QByteArray &)>;

// What a program under measure sends for a request: the datagram, and the message on
// PREFIX/command (none for a program that publishes no command).
struct Expected {
    Expectation datagram;
    Expectation command;
};

QList<QByteArray> requestTexts()
{
    QList<QByteArray> requests;
    for (QStringView device : CommandBuilder::DeviceWords)
        for (const char *verb : {"打开", "关闭"})
            requests << QByteArray(verb) + device.toUtf8();
    return requests;
}

// Received items not where the request sent in their place expects them.
int outOfPlace(const std::vector<QByteArray> &received, const QList<QByteArray> &requests,
               const Expectation &expected)
{
    int count = 0;
    for (size_t i = 0; i < received.size(); ++i)
        count += received[i] != expected(requests[int(i % size_t(requests.size()))]);
    return count;
}

// A program under measure, forwarding PREFIX/request to a far side of its own.
struct Forwarder {
    Forwarder(const char *name, const QByteArray &prefix, Expected expected)
        : name(name)
        , prefix(prefix)
        , expected(std::move(expected))
        , port(freePort())
        , udp(farSide(port))
    {
    }
    ~Forwarder()
    {
        process.terminate();
        process.waitForFinished();
        close(udp);
    }
    QByteArray topic() const { return prefix + "/request"; }

    const char *name;
    const QByteArray prefix;
    const Expected expected;
    const quint16 port;
    const int udp;
    QProcess process;
};

// Ready once a request gets through.
void awaitReady(const Forwarder &program, Publisher &publisher, const QByteArray &request)
{
    QElapsedTimer clock;
    clock.start();
    while (receive(program.udp, 200).isEmpty() && clock.elapsed() < 10000)
        publisher.publish(program.topic(), request);
    while (!receive(program.udp, 300).isEmpty()) {
    }
}

// Request published to first datagram, one request at a time at random gaps of 5 to 15 ms. The
// programs take turns, so that what the machine does meanwhile falls on each of them alike.
void latency(const std::vector<Forwarder *> &programs, Publisher &publisher,
             const QList<QByteArray> &requests, int trials)
{
    std::vector<std::vector<double>> latencies(programs.size());
    std::vector<int> lost(programs.size());
    QElapsedTimer clock;
    for (int i = 0; i < trials; ++i) {
        for (size_t turn = 0; turn < programs.size(); ++turn) {
            const size_t p = (size_t(i) + turn) % programs.size();
            QThread::usleep(5000 + QRandomGenerator::global()->bounded(10000));
            clock.start();
            publisher.publish(programs[p]->topic(), requests[i % requests.size()]);
            if (receive(programs[p]->udp, 1000).isEmpty())
                ++lost[p];
            else
                latencies[p].push_back(double(clock.nsecsElapsed()) / 1e6);
        }
    }
    for (size_t p = 0; p < programs.size(); ++p) {
        const char *name = programs[p]->name;
        std::printf("mqtt_%s_latency_p50 %.3f ms\n", name, percentile(latencies[p], 0.5));
        std::printf("mqtt_%s_latency_p99 %.3f ms\n", name, percentile(latencies[p], 0.99));
        std::printf("mqtt_%s_latency_lost %d count\n", name, lost[p]);
    }
}

// Rate requests a second for RateSeconds, every one expected at the far side and, for a program
// that publishes commands, on PREFIX/command, in the order published.
void rate(const Forwarder &program, Publisher &publisher, quint16 broker,
          const QList<QByteArray> &requests)
{
    const int total = Rate * RateSeconds;
    const QByteArray topic = program.topic();
    std::unique_ptr<Subscriber> commands;
    std::vector<std::unique_ptr<Subscriber>> diagnostics;
    if (program.expected.command) {
        commands = std::make_unique<Subscriber>(broker, program.prefix + "/command");
        // What the relay tells of itself, published from timers, never per request.
        for (const char *leaf : {"/activity", "/health", "/output/+"}) {
            diagnostics.push_back(std::make_unique<Subscriber>(broker, program.prefix + leaf));
            diagnostics.back()->quietened(300); // what was retained from before
        }
    }
    const double cpuBefore = processCpuSeconds(program.process.processId());
    std::vector<QByteArray> received;
    received.reserve(size_t(total));
    std::thread far([&] {
        for (QByteArray datagram; !(datagram = receive(program.udp, 2000)).isEmpty();)
            received.push_back(datagram);
    });
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < total; ++i) {
        while (clock.nsecsElapsed() < qint64(i) * 1000000000 / Rate) {
        }
        publisher.publish(topic, requests[i % requests.size()]);
    }
    far.join();
    const double cpu = processCpuSeconds(program.process.processId()) - cpuBefore;
    const char *name = program.name;
    std::printf("mqtt_%s_rate_received %zu of_%d\n", name, received.size(), total);
    std::printf("mqtt_%s_rate_out_of_order %d count\n", name,
                outOfPlace(received, requests, program.expected.datagram));
    std::printf("mqtt_%s_rate_cpu %.1f %%\n", name, 100 * cpu / RateSeconds);
    if (!commands)
        return;
    const std::vector<QByteArray> published = commands->quietened(1000);
    std::printf("mqtt_%s_rate_command_received %zu of_%d\n", name, published.size(), total);
    std::printf("mqtt_%s_rate_command_out_of_order %d count\n", name,
                outOfPlace(published, requests, program.expected.command));
    size_t told = 0;
    for (const std::unique_ptr<Subscriber> &subscriber : diagnostics)
        told += subscriber->quietened(1000).size();
    std::printf("mqtt_%s_rate_diagnostics %zu count\n", name, told);
    std::printf("mqtt_%s_rate_diagnostics_per_s %.1f per_s\n", name, double(told) / RateSeconds);
}

// A 250 MB publish on the request topic.
void residentAcross250Mb(const Forwarder &program, Publisher &publisher)
{
    const qint64 pid = program.process.processId();
    std::printf("mqtt_%s_rss_before %.1f MB\n", program.name, residentMb(pid).first);
    publisher.publish(program.topic(), QByteArray(250 << 20, 'x'));
    QThread::sleep(5);
    const auto [now, highest] = residentMb(pid);
    std::printf("mqtt_%s_rss_after_250MB %.1f MB\n", program.name, now);
    std::printf("mqtt_%s_rss_highest %.1f MB\n", program.name, highest);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int trials = argc > 1 ? std::atoi(argv[1]) : 1000;
    mosquitto_lib_init();
    // The tests' broker, logging what a broker logs by default: its log of every message would
    // cost it more than the requests do.
    QTemporaryDir brokerDir;
    qputenv("MORVANE_BROKER_SCRIPT", BROKER_SCRIPT);
    qputenv("MORVANE_BROKER_RUNNER", "bash");
    qputenv("MORVANE_BROKER_LOG", "error warning notice information");
    Broker fixture{brokerDir.path()};
    if (!fixture.run(u"setup"_qs)) {
        std::fprintf(stderr, "mosquitto did not start\n");
        return 1;
    }
    const quint16 broker = fixture.port;

    const Gbk gbk;
    {
        const auto command = [](const QByteArray &request) {
            return CommandBuilder::buildCommand(QString::fromUtf8(request));
        };
        Forwarder floor("floor", "floor", {[](const QByteArray &request) { return request; }, {}});
        floor.process.start(QStringLiteral(FLOOR), {QString::number(broker), u"floor/request"_qs,
                                                    QString::number(floor.port)});
        Forwarder relay("relay", "relay",
                        {[&](const QByteArray &request) { return gbk.encode(command(request)); },
                         [&](const QByteArray &request) {
                             return command(request).toUtf8();
                         }});
        Launch{QStringLiteral(RELAY_EXECUTABLE),
               {u"--request"_qs, u"none"_qs, u"--quiet"_qs, u"--udp"_qs,
                QStringLiteral("127.0.0.1:%1").arg(relay.port), u"--mqtt"_qs,
                QStringLiteral("mqtt://127.0.0.1:%1/relay").arg(broker)}}
            .start(relay.process);
        const QList<QByteArray> requests = requestTexts();
        Publisher publisher(broker);
        const std::vector<Forwarder *> programs = {&floor, &relay};
        for (const Forwarder *program : programs)
            awaitReady(*program, publisher, requests[0]);
        latency(programs, publisher, requests, trials);
        for (const Forwarder *program : programs) {
            rate(*program, publisher, broker, requests);
            residentAcross250Mb(*program, publisher);
        }
    }
    {
        // A request standing in the file, its datagrams counted over 3 s: alone, beside 1,000
        // a second of the hub's births, of greetings or of discovery markers from other clients,
        // and after a 250 MB publish on the request topic.
        QTemporaryDir dir;
        const quint16 port = freePort();
        const int udp = farSide(port);
        QProcess relay;
        Launch{QStringLiteral(RELAY_EXECUTABLE),
               {u"--request"_qs, dir.filePath(u"api.txt"_qs), u"--quiet"_qs, u"--udp"_qs,
                QStringLiteral("127.0.0.1:%1").arg(port), u"--mqtt"_qs,
                QStringLiteral("mqtt://127.0.0.1:%1/standing").arg(broker), u"--mqtt-discovery"_qs,
                u"standing/ha"_qs}}
            .start(relay);
        QThread::msleep(1000);
        QFile request(dir.filePath(u"api.txt"_qs));
        request.open(QIODevice::WriteOnly);
        request.write(gbk.encode(u"打开空调"));
        request.close();
        const auto rate = [udp] {
            QElapsedTimer clock;
            clock.start();
            int count = 0;
            while (clock.elapsed() < 3000)
                count += !receive(udp, 100).isEmpty();
            return count / 3.0;
        };
        const auto flooded = [&](const char *name, const QByteArray &topic,
                                 const std::function<QByteArray(int)> &payload) {
            std::atomic<bool> done{false};
            std::thread flood([&] {
                Publisher flooder(broker);
                const auto start = std::chrono::steady_clock::now();
                for (int i = 0; !done; ++i) {
                    std::this_thread::sleep_until(start + i * std::chrono::milliseconds(1));
                    flooder.publish(topic, payload(i));
                }
            });
            std::printf("mqtt_standing_udp_rate_%s_flood %.0f per_s\n", name, rate());
            done = true;
            flood.join();
        };
        Publisher publisher(broker);
        const QByteArray huge(250 << 20, 'x');
        rate();
        const double before = rate();
        std::printf("mqtt_standing_udp_rate_before %.0f per_s\n", before);
        flooded("births", "standing/ha/status", [](int) { return QByteArray("online"); });
        flooded("greetings", "standing/hello", [](int i) {
            return R"({"client_id":"flood)" + QByteArray::number(i) + R"(","host":"bench"})";
        });
        flooded("markers", "standing/discovery", [](int i) {
            return R"({"prefix":"standing/ha)" + QByteArray::number(i) + R"(","node":"x"})";
        });
        std::fflush(stdout);
        publisher.publish("standing/request", huge);
        // What queued up while the bench copied the payload counts for no second.
        while (!receive(udp, 1).isEmpty()) {
        }
        const double after = rate();
        std::printf("mqtt_standing_udp_rate_during_250MB %.0f per_s\n", after);
        std::printf("mqtt_standing_rss_highest %.1f MB\n", residentMb(relay.processId()).second);
        relay.terminate();
        relay.waitForFinished();
        close(udp);
    }
    fixture.run(u"stop"_qs);
    return 0;
}
