#include "requestfile.h"

#include "gbk.h"

namespace {
bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}
} // namespace

qint64 RequestFile::read(char *data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const qint64 count = readSome(data + done, size - done);
        if (count < 0)
            return -1;
        if (count == 0)
            break;
        done += count;
    }
    return done;
}

QString RequestFile::decode(QByteArrayView field)
{
    static const Gbk gbk;
    return gbk.decode(field);
}

std::optional<QString> RequestFile::readFirstField()
{
    const std::optional<QByteArrayView> field = readFirstFieldBytes();
    return field ? std::optional(decode(*field)) : std::nullopt;
}

std::optional<QByteArrayView> RequestFile::readFirstFieldBytes()
{
    constexpr qint64 Chunk = 4096;
    if (m_bytes.size() < Chunk)
        m_bytes.resize(Chunk);
    const qint64 count = read(m_bytes.data(), Chunk);
    if (count < 0)
        return std::nullopt;
    if (const auto field = firstField(QByteArrayView(m_bytes.data(), count), count < Chunk))
        return field;

    // The field runs past the first chunk: take the rest up to the bound in one go.
    m_bytes.resize(MaxBytes);
    const qint64 more = read(m_bytes.data() + count, MaxBytes - count);
    if (more < 0)
        return std::nullopt;
    return *firstField(QByteArrayView(m_bytes.data(), count + more), true);
}

std::optional<QByteArrayView> RequestFile::firstField(QByteArrayView bytes, bool atEnd)
{
    qsizetype begin = 0;
    while (begin < bytes.size() && (bytes[begin] == ' ' || bytes[begin] == '\t'))
        ++begin;
    if (begin == bytes.size())
        return atEnd ? std::optional(bytes.sliced(begin)) : std::nullopt;

    if (bytes[begin] == '"') {
        const QByteArrayView rest = bytes.sliced(begin + 1);
        const qsizetype close = rest.indexOf('"');
        if (close >= 0)
            return rest.first(close);
        if (!atEnd)
            return std::nullopt;
        const auto lineEnd = std::find_if(rest.begin(), rest.end(), isLineEnd);
        return rest.first(lineEnd - rest.begin());
    }

    const QByteArrayView rest = bytes.sliced(begin);
    const auto end =
        std::find_if(rest.begin(), rest.end(), [](char c) { return c == ',' || isLineEnd(c); });
    if (end == rest.end() && !atEnd)
        return std::nullopt;
    return rest.first(end - rest.begin());
}
