#pragma once

#include <QString>

// Short Chinese reasons for what the MQTT library, a broker and a TLS handshake report as failed.
namespace Errors {
// A libmosquitto return code; `error` is the system's error number the library left with
// MOSQ_ERR_ERRNO.
QString mqttLibrary(int rc, int error);
// A broker's reason for refusing: MQTT 5's codes, or those of a broker that speaks only 3.1.1.
QString mqttRefusal(int code);
// Another client connected with the relay's client id and the broker let it take the session.
QString mqttTakenOver(const QString &clientId, const QString &where, int seconds);
// A handshake that failed for another reason than the certificate.
QString tlsHandshake();

// Builds with TLS by OpenSSL (mqtterrors_openssl.cpp).
// Why the certificate was not accepted, from OpenSSL's verdict (X509_V_OK: not for the
// certificate at all).
QString tlsCertificate(int verifyError);
QString tlsSetup();
QString caFileUnreadable(const QString &file);

// Builds without TLS (mqtterrors_windows.cpp).
QString tlsUnsupported();
} // namespace Errors
