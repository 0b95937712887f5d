#include "gbk.h"

#include <QTextCodec>

namespace {
constexpr char Name[] = "GBK";
constexpr auto Flags = QStringConverter::Flag::Stateless;

Gbk::Backend preferredBackend()
{
    return Gbk::isAvailable(Gbk::Backend::StringConverter) ? Gbk::Backend::StringConverter
                                                           : Gbk::Backend::TextCodec;
}
} // namespace

Gbk::Gbk()
    : Gbk(preferredBackend())
{
}

Gbk::Gbk(Backend backend)
    : m_backend(backend)
{
    if (backend == Backend::StringConverter) {
        m_encoder = QStringEncoder(Name, Flags);
        m_decoder = QStringDecoder(Name, Flags);
    } else {
        m_codec = QTextCodec::codecForName(Name);
    }
}

bool Gbk::isAvailable(Backend backend)
{
    if (backend == Backend::StringConverter)
        return QStringEncoder(Name).isValid();
    return QTextCodec::codecForName(Name) != nullptr;
}

QByteArray Gbk::encode(QStringView text) const
{
    if (m_codec)
        return m_codec->fromUnicode(text);
    return m_encoder.encode(text);
}

const QByteArray &CommandBytes::of(const QString &command)
{
    if (command != m_command) {
        m_bytes = m_gbk.encode(command);
        m_command = command;
    }
    return m_bytes;
}

QString Gbk::decode(QByteArrayView bytes) const
{
    if (m_codec)
        return m_codec->toUnicode(bytes.data(), int(bytes.size()));
    return m_decoder.decode(bytes);
}
