#include "commandsplitter.h"

#include "commandbuilder.h"

#include <algorithm>
#include <utility>

CommandSplitter::CommandSplitter()
    : m_on(m_gbk.encode(CommandBuilder::OnSuffix))
    , m_off(m_gbk.encode(CommandBuilder::OffSuffix))
{
    for (QStringView word : CommandBuilder::DeviceWords) {
        m_devices.push_back(m_gbk.encode(word));
        m_longestCommand = std::max(m_longestCommand, m_devices.back().size() + m_on.size());
    }
}

std::optional<CommandParts> CommandSplitter::parts(QStringView command)
{
    const auto &words = CommandBuilder::DeviceWords;
    for (QStringView suffix : {CommandBuilder::OnSuffix, CommandBuilder::OffSuffix}) {
        if (!command.endsWith(suffix))
            continue;
        const QStringView word = command.chopped(suffix.size());
        if (std::find(words.begin(), words.end(), word) != words.end())
            return CommandParts{word, suffix == CommandBuilder::OnSuffix};
    }
    return std::nullopt;
}

QList<Received> CommandSplitter::datagram(QByteArrayView bytes) const
{
    const QString text = m_gbk.decode(bytes);
    if (parts(text) && m_gbk.encode(text) == bytes)
        return {Received{text, {}}};
    return {Received{{}, bytes.toByteArray()}};
}

QList<Received> CommandSplitter::feed(QByteArrayView bytes)
{
    m_pending.append(bytes);
    QList<Received> out;
    qsizetype length = 0;
    for (qsizetype at; (at = endingAt(&length)) >= 0;) {
        take(QByteArrayView(m_pending).first(at + length), length, out);
        m_pending.remove(0, at + length);
    }
    // Keep what could still be the start of a command; the rest has waited too long to be one.
    if (m_pending.size() > MaxPending) {
        const qsizetype given = m_pending.size() - (m_longestCommand - 1);
        unparsed(QByteArrayView(m_pending).first(given), out);
        m_pending.remove(0, given);
    }
    return out;
}

QList<Received> CommandSplitter::flush()
{
    if (m_pending.isEmpty())
        return {};
    return {Received{{}, std::exchange(m_pending, {})}};
}

// Where the first "=启动" or "=关闭" in the pending bytes starts, or -1. "=" is never the second
// byte of a GBK character, so a match cannot start inside one.
qsizetype CommandSplitter::endingAt(qsizetype *length) const
{
    const qsizetype on = m_pending.indexOf(m_on);
    const qsizetype off = m_pending.indexOf(m_off);
    if (on < 0 && off < 0)
        return -1;
    const bool onFirst = off < 0 || (on >= 0 && on < off);
    *length = onFirst ? m_on.size() : m_off.size();
    return onFirst ? on : off;
}

// The length of the longest appliance word that `body` ends with, or 0.
qsizetype CommandSplitter::deviceBefore(QByteArrayView body) const
{
    qsizetype longest = 0;
    for (const QByteArray &device : m_devices) {
        if (device.size() > longest && body.endsWith(device))
            longest = device.size();
    }
    return longest;
}

void CommandSplitter::take(QByteArrayView piece, qsizetype endingLength, QList<Received> &out) const
{
    const QByteArrayView body = piece.chopped(endingLength);
    const qsizetype device = deviceBefore(body);
    if (device == 0) {
        unparsed(piece, out);
        return;
    }
    unparsed(body.first(body.size() - device), out);
    out.append(command(piece.sliced(body.size() - device)));
}

// In pieces of at most MaxPending bytes, each short enough to read as one line.
void CommandSplitter::unparsed(QByteArrayView bytes, QList<Received> &out)
{
    for (qsizetype at = 0; at < bytes.size(); at += MaxPending)
        out.append(Received{
            {}, bytes.sliced(at).first(std::min(MaxPending, bytes.size() - at)).toByteArray()});
}

Received CommandSplitter::command(QByteArrayView bytes) const
{
    return Received{m_gbk.decode(bytes), {}};
}
