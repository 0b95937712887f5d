// The floor under the relay's MQTT figures: a bare client that subscribes to TOPIC at QoS 1 and
// sends each message's payload as one datagram to 127.0.0.1:UDPPORT, nothing more.
// mqttfloor BROKERPORT TOPIC UDPPORT
#include <arpa/inet.h>
#include <cstdlib>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {
int out = -1;
sockaddr_in far{};
} // namespace

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    mosquitto_lib_init();
    out = socket(AF_INET, SOCK_DGRAM, 0);
    far.sin_family = AF_INET;
    far.sin_port = htons(std::atoi(argv[3]));
    far.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    mosquitto *client = mosquitto_new(nullptr, true, nullptr);
    mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_message_callback_set(client, [](mosquitto *, void *, const mosquitto_message *m) {
        sendto(out, m->payload, size_t(m->payloadlen), 0, reinterpret_cast<sockaddr *>(&far),
               sizeof far);
    });
    if (mosquitto_connect(client, "127.0.0.1", std::atoi(argv[1]), 60) != MOSQ_ERR_SUCCESS)
        return 1;
    mosquitto_subscribe(client, nullptr, argv[2], 1);
    return mosquitto_loop_forever(client, -1, 1);
}
