#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

// One value given for an option: its text as typed, where it was typed ("--udp", "-u", or
// "配置文件“/etc/morvane/relay.conf”中的 udp="), and, once checked, what it means.
struct Given {
    QString text;
    QString where;
    QVariant value;

    // "--interval“0”无效：应为 1 到 60000 之间的毫秒数"
    QString invalid(const QString &why) const;
    // As typed: "--request none", or "配置文件“…”中的 request=none".
    QString typed() const;
    // Where, without the value: "--udp", or "配置文件“…”中的 udp".
    QString option() const;
};

// The values given for a program's options, under the options' long names, in the order given.
class OptionValues {
public:
    void add(const QString &name, const Given &given) { m_given[name].append(given); }
    void replace(const QString &name, const Given &given) { m_given[name] = {given}; }
    bool has(const QString &name) const { return m_given.contains(name); }
    QStringList names() const { return m_given.keys(); }
    QList<Given> all(const QString &name) const { return m_given.value(name); }

    // What the option's first value means, or `otherwise` when it was not given.
    template <typename T> T value(const QString &name, const T &otherwise = T()) const
    {
        const auto found = m_given.find(name);
        return found == m_given.end() ? otherwise : found->first().value.template value<T>();
    }

    // These values, with every option that `over` gives taken from there instead.
    OptionValues replacedBy(const OptionValues &over) const;

private:
    QMap<QString, QList<Given>> m_given;
};
