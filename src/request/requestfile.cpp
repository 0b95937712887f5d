#include "requestfile.h"

#include "gbk.h"

namespace {
const Gbk &gbk()
{
    static const Gbk converter;
    return converter;
}

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

std::optional<QString> RequestFile::readFirstField()
{
    char chunk[4096];
    const qint64 count = read(chunk, sizeof chunk);
    if (count < 0)
        return std::nullopt;
    const QByteArrayView head(chunk, count);
    if (const auto field = firstField(head, count < qint64(sizeof chunk)))
        return gbk().decode(*field);

    // The field runs past the first chunk: take the rest up to the bound in one go.
    QByteArray bytes(head.data(), head.size());
    bytes.resize(MaxBytes);
    const qint64 more = read(bytes.data() + count, MaxBytes - count);
    if (more < 0)
        return std::nullopt;
    bytes.truncate(count + more);
    return gbk().decode(*firstField(bytes, true));
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
