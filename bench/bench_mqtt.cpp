// Requests published on a local mosquitto in its default settings, timed to the far side of the
// UDP output, for morvane-relay and, in the same run, for the floor: a bare client that does
// nothing but subscribe and send the datagram (mqttfloor). Prints "figure value unit" lines.
// bench_mqtt [TRIALS]
#include "commandbuilder.h"
#include "gbk.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <functional>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
constexpr int Rate = 10000; // requests a second
constexpr int RateSeconds = 10;

quint16 freePort(int type)
{
    const int s = socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t size = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &size);
    close(s);
    return ntohs(a.sin_port);
}

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

double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
    return (fields.value(12).toDouble() + fields.value(13).toDouble()) / sysconf(_SC_CLK_TCK);
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

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[size_t(p * double(values.size() - 1))];
}

struct Publisher {
    explicit Publisher(quint16 port)
        : client(mosquitto_new(nullptr, true, nullptr))
    {
        mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_max_inflight_messages_set(client, 0);
        mosquitto_connect(client, "127.0.0.1", port, 60);
        mosquitto_loop_start(client);
    }
    ~Publisher()
    {
        mosquitto_disconnect(client);
        mosquitto_loop_stop(client, false);
        mosquitto_destroy(client);
    }
    void publish(const QByteArray &topic, const QByteArray &payload)
    {
        mosquitto_publish(client, nullptr, topic.constData(), int(payload.size()),
                          payload.constData(), 1, false);
    }
    mosquitto *client;
};

// One configuration: `program` started to forward PREFIX/request to `udp`; `expected` is what
// the far side gets for a request.
void measure(const char *name, QProcess &program, quint16 broker, const QByteArray &prefix, int udp,
             int trials, const std::function<QByteArray(const QByteArray &)> &expected)
{
    const QByteArray topic = prefix + "/request";
    QList<QByteArray> requests;
    for (QStringView device : CommandBuilder::DeviceWords)
        for (const char *verb : {"打开", "关闭"})
            requests << QByteArray(verb) + device.toUtf8();
    Publisher publisher(broker);
    // Ready once a request gets through.
    QElapsedTimer clock;
    clock.start();
    while (receive(udp, 200).isEmpty() && clock.elapsed() < 10000)
        publisher.publish(topic, requests[0]);
    while (!receive(udp, 300).isEmpty()) {
    }

    std::vector<double> latencies;
    int lost = 0;
    for (int i = 0; i < trials; ++i) {
        QThread::usleep(5000 + QRandomGenerator::global()->bounded(10000));
        clock.restart();
        publisher.publish(topic, requests[i % requests.size()]);
        if (receive(udp, 1000).isEmpty())
            ++lost;
        else
            latencies.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::printf("mqtt_%s_latency_p50 %.3f ms\n", name, percentile(latencies, 0.5));
    std::printf("mqtt_%s_latency_p99 %.3f ms\n", name, percentile(latencies, 0.99));
    std::printf("mqtt_%s_latency_lost %d count\n", name, lost);

    const int total = Rate * RateSeconds;
    const double cpuBefore = cpuSeconds(program.processId());
    std::vector<QByteArray> received;
    received.reserve(size_t(total));
    std::thread far([&] {
        for (QByteArray datagram; !(datagram = receive(udp, 2000)).isEmpty();)
            received.push_back(datagram);
    });
    clock.restart();
    for (int i = 0; i < total; ++i) {
        while (clock.nsecsElapsed() < qint64(i) * 1000000000 / Rate) {
        }
        publisher.publish(topic, requests[i % requests.size()]);
    }
    far.join();
    const double cpu = cpuSeconds(program.processId()) - cpuBefore;
    int outOfPlace = 0;
    for (size_t i = 0; i < received.size(); ++i)
        outOfPlace += received[i] != expected(requests[int(i) % requests.size()]);
    std::printf("mqtt_%s_rate_received %zu of_%d\n", name, received.size(), total);
    std::printf("mqtt_%s_rate_out_of_order %d count\n", name, outOfPlace);
    std::printf("mqtt_%s_rate_cpu %.1f %%\n", name, 100 * cpu / RateSeconds);

    // A 250 MB publish on the request topic.
    std::printf("mqtt_%s_rss_before %.1f MB\n", name, residentMb(program.processId()).first);
    publisher.publish(topic, QByteArray(250 << 20, 'x'));
    QThread::sleep(5);
    const auto [now, highest] = residentMb(program.processId());
    std::printf("mqtt_%s_rss_after_250MB %.1f MB\n", name, now);
    std::printf("mqtt_%s_rss_highest %.1f MB\n", name, highest);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int trials = argc > 1 ? std::atoi(argv[1]) : 1000;
    mosquitto_lib_init();
    const quint16 broker = freePort(SOCK_STREAM);
    QProcess mosquitto;
    mosquitto.start(QStringLiteral("mosquitto"), {u"-p"_qs, QString::number(broker)});
    QThread::msleep(500);

    const Gbk gbk;
    {
        const quint16 port = freePort(SOCK_DGRAM);
        const int udp = farSide(port);
        QProcess floor;
        floor.start(QStringLiteral(FLOOR),
                    {QString::number(broker), u"floor/request"_qs, QString::number(port)});
        measure("floor", floor, broker, "floor", udp, trials,
                [](const QByteArray &request) { return request; });
        floor.kill();
        floor.waitForFinished();
        close(udp);
    }
    {
        const quint16 port = freePort(SOCK_DGRAM);
        const int udp = farSide(port);
        QProcess relay;
        relay.start(QStringLiteral(RELAY),
                    {u"--request"_qs, u"none"_qs, u"--quiet"_qs, u"--udp"_qs,
                     QStringLiteral("127.0.0.1:%1").arg(port), u"--mqtt"_qs,
                     QStringLiteral("mqtt://127.0.0.1:%1/relay").arg(broker)});
        measure("relay", relay, broker, "relay", udp, trials, [&](const QByteArray &request) {
            return gbk.encode(CommandBuilder::buildCommand(QString::fromUtf8(request)));
        });
        relay.terminate();
        relay.waitForFinished();
        close(udp);
    }
    {
        // A request standing in the file, its datagrams counted over 3 s before and after a
        // 250 MB publish on the request topic.
        QTemporaryDir dir;
        const quint16 port = freePort(SOCK_DGRAM);
        const int udp = farSide(port);
        QProcess relay;
        relay.start(QStringLiteral(RELAY),
                    {u"--request"_qs, dir.filePath(u"api.txt"_qs), u"--quiet"_qs, u"--udp"_qs,
                     QStringLiteral("127.0.0.1:%1").arg(port), u"--mqtt"_qs,
                     QStringLiteral("mqtt://127.0.0.1:%1/standing").arg(broker)});
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
        Publisher publisher(broker);
        const QByteArray huge(250 << 20, 'x');
        rate();
        const double before = rate();
        publisher.publish("standing/request", huge);
        // What queued up while the bench copied the payload counts for no second.
        while (!receive(udp, 1).isEmpty()) {
        }
        const double after = rate();
        std::printf("mqtt_standing_udp_rate_before %.0f per_s\n", before);
        std::printf("mqtt_standing_udp_rate_during_250MB %.0f per_s\n", after);
        std::printf("mqtt_standing_rss_highest %.1f MB\n", residentMb(relay.processId()).second);
        relay.terminate();
        relay.waitForFinished();
        close(udp);
    }
    mosquitto.terminate();
    mosquitto.waitForFinished();
    return 0;
}
