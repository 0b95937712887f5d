#include "mqtttls.h"

#include "mqtterrors.h"
#include "regularfile.h"

#include <QFile>
#include <QHostAddress>
#include <QUrl>
#include <mosquitto.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <string>

// The link hands the library an address it resolved itself, so the library's own checks would
// compare the certificate with that address and send it as the server name. The link's own
// SSL_CTX checks the name instead, and puts the name in the ClientHello as the handshake starts.
struct MqttTlsState {
    std::string name; // SNI; empty for an address
    int verifyError = X509_V_OK;

    static MqttTlsState *of(const SSL *ssl)
    {
        return static_cast<MqttTlsState *>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    }
};

namespace {
int verify(int ok, X509_STORE_CTX *store)
{
    auto *ssl =
        static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    if (!ok)
        MqttTlsState::of(ssl)->verifyError = X509_STORE_CTX_get_error(store);
    return ok;
}

// The certificates of `caFile`, read here and not by OpenSSL, which would open a FIFO under the
// name and wait on it.
bool trust(SSL_CTX *context, const QString &caFile)
{
    QFile file;
    if (!openRegularFile(file, caFile))
        return false;
    const QByteArray pem = file.readAll();
    BIO *bio = BIO_new_mem_buf(pem.constData(), int(pem.size()));
    STACK_OF(X509_INFO) *infos = PEM_X509_INFO_read_bio(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    X509_STORE *store = SSL_CTX_get_cert_store(context);
    int trusted = 0;
    for (int i = 0; infos && i < sk_X509_INFO_num(infos); ++i) {
        const X509_INFO *info = sk_X509_INFO_value(infos, i);
        trusted += info->x509 && X509_STORE_add_cert(store, info->x509) == 1;
    }
    sk_X509_INFO_pop_free(infos, X509_INFO_free);
    return trusted > 0;
}

void handshakeStarts(const SSL *ssl, int where, int)
{
    if (!(where & SSL_CB_HANDSHAKE_START))
        return;
    std::string &name = MqttTlsState::of(ssl)->name;
    SSL_set_tlsext_host_name(const_cast<SSL *>(ssl), name.empty() ? nullptr : name.data());
}
} // namespace

MqttTls::MqttTls()
    : d(std::make_unique<MqttTlsState>())
{
}
MqttTls::~MqttTls() = default;

bool MqttTls::available()
{
    return true;
}

Result<void> MqttTls::prepare(mosquitto *client, const QString &host, const QString &caFile)
{
    d->verifyError = X509_V_OK;
    SSL_CTX *context = SSL_CTX_new(TLS_client_method());
    if (!context)
        return Failure(Errors::tlsSetup());
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    const bool trusted =
        caFile.isEmpty() ? SSL_CTX_set_default_verify_paths(context) == 1 : trust(context, caFile);
    if (!trusted) {
        SSL_CTX_free(context);
        return Failure(Errors::caFileUnreadable(caFile));
    }
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, verify);
    SSL_CTX_set_info_callback(context, handshakeStarts);
    SSL_CTX_set_app_data(context, d.get());
    X509_VERIFY_PARAM *param = SSL_CTX_get0_param(context);
    if (QHostAddress(host).isNull()) {
        d->name = QUrl::toAce(host).toStdString();
        X509_VERIFY_PARAM_set1_host(param, d->name.c_str(), d->name.size());
    } else {
        d->name.clear();
        X509_VERIFY_PARAM_set1_ip_asc(param, host.toLatin1().constData());
    }
    // The library takes its own reference to the context.
    int rc = mosquitto_void_option(client, MOSQ_OPT_SSL_CTX, context);
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_int_option(client, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
    SSL_CTX_free(context);
    if (rc != MOSQ_ERR_SUCCESS)
        return Failure(Errors::tlsSetup());
    return {};
}

bool MqttTls::handshaking(mosquitto *client) const
{
    auto *ssl = static_cast<SSL *>(mosquitto_ssl_get(client));
    return ssl && !SSL_is_init_finished(ssl);
}

bool MqttTls::handshakeWaitsToRead(mosquitto *client) const
{
    auto *ssl = static_cast<SSL *>(mosquitto_ssl_get(client));
    return ssl && !SSL_is_init_finished(ssl) && SSL_want_read(ssl);
}

QString MqttTls::failure() const
{
    return Errors::tlsCertificate(d->verifyError);
}
