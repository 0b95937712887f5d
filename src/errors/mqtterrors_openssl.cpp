#include "mqtterrors.h"

#include <openssl/x509_vfy.h>

QString Errors::tlsCertificate(int verifyError)
{
    switch (verifyError) {
    case X509_V_OK:
        return tlsHandshake();
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return QStringLiteral("证书与服务器名称不符");
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return QStringLiteral("证书已过期");
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return QStringLiteral("证书尚未生效");
    }
    return QStringLiteral("证书不受信任");
}

QString Errors::tlsSetup()
{
    return QStringLiteral("无法初始化 TLS");
}

QString Errors::caFileUnreadable(const QString &file)
{
    return QStringLiteral("无法读取 CA 证书文件 %1").arg(file);
}
