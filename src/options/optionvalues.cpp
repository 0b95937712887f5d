#include "optionvalues.h"

QString Given::invalid(const QString &why) const
{
    return QStringLiteral("%1“%2”无效：%3").arg(where, text, why);
}

QString Given::typed() const
{
    return where + (where.endsWith(u'=') ? QString() : QStringLiteral(" ")) + text;
}

QString Given::option() const
{
    return where.endsWith(u'=') ? where.chopped(1) : where;
}

OptionValues OptionValues::replacedBy(const OptionValues &over) const
{
    OptionValues values = *this;
    for (auto given = over.m_given.begin(); given != over.m_given.end(); ++given)
        values.m_given.insert(given.key(), given.value());
    return values;
}
