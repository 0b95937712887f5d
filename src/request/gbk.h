#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>

class QTextCodec;

// Conversion between Unicode and code page 936 (GBK), the encoding of the request file and of
// every byte on the wire. Qt's own converter knows GBK only where Qt is built with ICU; Qt 5
// Compat's QTextCodec carries its own tables and stands in elsewhere. Build one and keep it:
// construction looks the converter up, conversion does not.
class Gbk {
public:
    enum class Backend { StringConverter, TextCodec };

    Gbk();
    explicit Gbk(Backend backend);

    static bool isAvailable(Backend backend);
    Backend backend() const { return m_backend; }

    QByteArray encode(QStringView text) const;
    // A byte sequence that is not valid GBK becomes U+FFFD and the characters around it are kept;
    // a lead byte cut off at the very end is dropped.
    QString decode(QByteArrayView bytes) const;

private:
    Backend m_backend;
    mutable QStringEncoder m_encoder;
    mutable QStringDecoder m_decoder;
    QTextCodec *m_codec = nullptr;
};

// The GBK bytes of a command, remembered for the next call: the request file usually holds the
// same request for many ticks, and the transports send it once a millisecond.
class CommandBytes {
public:
    const QByteArray &of(const QString &command);

private:
    Gbk m_gbk;
    QString m_command;
    QByteArray m_bytes;
};
