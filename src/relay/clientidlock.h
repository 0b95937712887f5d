#pragma once

#include "mqttsettings.h"
#include "result.h"

#include <QByteArray>
#include <QtGlobal>
#include <optional>

// Held while a relay of this machine uses an MQTT client id, so that a second one with the same id
// (its settings copied) is refused at its start instead of knocking the first off the broker; the
// system lets it go when the relay ends, however it ends. It is no more than a hint: where it
// cannot be had for any other reason, the relay goes on without it, and the broker still tells of
// a client that took its session over.
class ClientIdLock {
public:
    ClientIdLock() = default;
    ~ClientIdLock() { release(); }
    ClientIdLock(const ClientIdLock &) = delete;
    ClientIdLock &operator=(const ClientIdLock &) = delete;

    // Holds the lock of `clientId` instead of the one held before; false, holding the old one
    // still, when another process of this machine holds it.
    bool take(const QByteArray &clientId);
    void release();

private:
    qintptr m_handle = -1;
    QByteArray m_clientId;
    QByteArray m_path; // where the platform keeps it
};

// Holds the lock of the client id of `settings`, or none without a broker. A second relay of this
// machine with the same client id would knock this one off the broker, and this one it, over and
// over: the failure says so.
Result<void> holdClientId(ClientIdLock &lock, const std::optional<MqttSettings> &settings);
