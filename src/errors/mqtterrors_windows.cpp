#include "mqtterrors.h"

QString Errors::tlsUnsupported()
{
    return QStringLiteral("本版本不支持 TLS");
}
