#include "option.h"

#include <QStringList>

QString OptionEntry::described(bool english) const
{
    QStringList facts;
    if (!unit.isEmpty())
        facts << (english ? QStringLiteral("%1 to %2") : QStringLiteral("%1 到 %2"))
                     .arg(lowest)
                     .arg(highest);
    if (!byDefault.isEmpty())
        facts
            << (english ? QStringLiteral("default %1") : QStringLiteral("默认 %1")).arg(byDefault);
    if (facts.isEmpty())
        return english ? this->english : chinese;
    return english ? QStringLiteral("%1 (%2)").arg(this->english, facts.join(QStringLiteral(", ")))
                   : QStringLiteral("%1（%2）").arg(chinese, facts.join(QStringLiteral("，")));
}

namespace optiondetail {
qsizetype columns(const QString &text)
{
    qsizetype width = 0;
    for (const QChar c : text)
        width += c.unicode() >= 0x2E80 ? 2 : 1;
    return width;
}

Result<bool> yes(const QString &text)
{
    static const QStringList Yes = {u"true"_qs, u"yes"_qs, u"on"_qs, u"1"_qs};
    static const QStringList No = {u"false"_qs, u"no"_qs, u"off"_qs, u"0"_qs};
    if (Yes.contains(text, Qt::CaseInsensitive))
        return true;
    if (No.contains(text, Qt::CaseInsensitive))
        return false;
    return Failure(QStringLiteral("应为 true 或 false"));
}

Result<qint64> whole(const OptionEntry &entry, const QString &text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < entry.lowest || value > entry.highest)
        return Failure(QStringLiteral("应为 %1 到 %2 之间的%3")
                           .arg(entry.lowest)
                           .arg(entry.highest)
                           .arg(entry.unit));
    return value;
}
} // namespace optiondetail
