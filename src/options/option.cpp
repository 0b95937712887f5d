#include "option.h"

#include <QStringList>

namespace {
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
} // namespace

Option::Option(QString name, QString valueName)
    : m_name(std::move(name))
    , m_valueName(std::move(valueName))
    , m_flag(m_valueName.isEmpty())
{
    if (isFlag())
        check(yes);
}

Option Option::fileOnly(QString key)
{
    Option option(std::move(key));
    option.m_flag = false;
    option.m_check = {};
    option.m_place = Place::SettingsFile;
    return option;
}

QString Option::key() const
{
    return QString(m_name).replace(u'-', u'_');
}

Result<QVariant> Option::meaning(const QString &text) const
{
    if (!m_check)
        return QVariant(text);
    return m_check(text);
}
