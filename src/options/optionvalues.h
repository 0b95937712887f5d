#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// One value given for an option: its text as typed, where it was typed ("--udp", "-u", or
// "配置文件“/etc/morvane/relay.conf”中的 udp="), and the settings file it was read from, if any.
struct Given {
    QString text;
    QString where;
    QString file;

    // "--interval“0”无效：应为 1 到 60000 之间的毫秒数"
    QString invalid(const QString &why) const;
    // As typed: "--request none", or "配置文件“…”中的 request=none".
    QString typed() const;
    // Where, without the value: "--udp", or "配置文件“…”中的 udp".
    QString option() const;
};

// The texts given for a program's options, under the options' long names, in the order given,
// before they land in the program's options.
class OptionValues {
public:
    void add(const QString &name, const Given &given) { m_given[name].append(given); }
    void replace(const QString &name, const Given &given) { m_given[name] = {given}; }
    bool has(const QString &name) const { return m_given.contains(name); }
    QStringList names() const { return m_given.keys(); }
    QList<Given> all(const QString &name) const { return m_given.value(name); }

    // These values, with every option that `over` gives taken from there instead.
    OptionValues replacedBy(const OptionValues &over) const;

private:
    QMap<QString, QList<Given>> m_given;
};
