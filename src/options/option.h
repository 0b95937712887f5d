#pragma once

#include "optionvalues.h"
#include "result.h"

#include <QString>
#include <functional>
#include <optional>
#include <type_traits>

// What one option of a program is, whatever it lands in: how it is typed on the command line and
// in the settings file, what --help, the manual and the settings file say of it.
struct OptionEntry {
    enum class Place { CommandLine, Everywhere, SettingsFile };

    // The long name without "--"; a key of the settings file is it with "_" for "-".
    QString name;
    // Empty for a flag; in Chinese, then as the manual and the README show it in English.
    QString valueName, englishValueName;
    QChar letter;
    QString chinese, english;
    Place place = Place::CommandLine;
    bool repeatable = false;
    bool lastWins = false;
    QString needs, needsOnlyFor, needsWhy, notWith;
    bool secret = false;
    bool question = false;
    QString answer;
    bool settingsFile = false;
    // A whole number from `lowest` to `highest`, in `unit` ("毫秒数"), when `unit` is given.
    qint64 lowest = 0, highest = 0;
    QString unit;
    // Taken, as if given, when it is not; and what the packaged settings file shows.
    QString byDefault, example;

    QString key() const { return QString(name).replace(u'-', u'_'); }
    bool isFlag() const { return valueName.isEmpty() && place != Place::SettingsFile; }
    bool isOnCommandLine() const { return place != Place::SettingsFile; }
    bool isInFile() const { return place != Place::CommandLine; }
    bool isLastWinning() const { return lastWins || isFlag(); }
    // The help's line with the range and the default appended, in Chinese or in English.
    QString described(bool english) const;
};

namespace optiondetail {
// A Chinese character takes two columns of a terminal.
qsizetype columns(const QString &text);
Result<bool> yes(const QString &text);
Result<qint64> whole(const OptionEntry &entry, const QString &text);

template <typename T> struct Unwrapped {
    using type = T;
};
template <typename T> struct Unwrapped<std::optional<T>> {
    using type = T;
};
// The value a setter (options, value[, given]) takes.
template <typename F> struct SetterValue : SetterValue<decltype(&F::operator())> {
};
template <typename C, typename R, typename O, typename V, typename... Rest>
struct SetterValue<R (C::*)(O &, V, Rest...) const> {
    using type = std::decay_t<V>;
};
template <typename T, typename D> auto destinationValue()
{
    if constexpr (std::is_member_object_pointer_v<D>)
        return typename Unwrapped<
            std::decay_t<decltype(std::declval<T &>().*std::declval<D>())>>::type();
    else
        return typename SetterValue<D>::type();
}
} // namespace optiondetail

// One row of a program's option table, landing in a field of the options struct T as it is
// checked:
//   Option<RelayOptions>(u"interval"_qs, u"毫秒"_qs, u"MS"_qs)
//       .help(u"多久…"_qs, u"how often…"_qs).within(1, 60000, u"毫秒数"_qs).byDefault(u"1"_qs)
//       .to(&RelayOptions::interval).inFile()
template <typename T> class Option {
public:
    // Why a value cannot land, or nothing when it did.
    using Land = std::function<std::optional<QString>(T &, const Given &, const OptionEntry &)>;

    // --name on the command line. With a value name it takes a value; without one it is a flag,
    // true when given (in the settings file: true or false).
    explicit Option(QString name, QString valueName = {}, QString englishValueName = {})
    {
        m_entry.name = std::move(name);
        m_entry.valueName = std::move(valueName);
        m_entry.englishValueName = std::move(englishValueName);
    }
    // A key of the settings file and nowhere else, for what not every user of the machine may read.
    static Option fileOnly(QString key, QString valueName, QString englishValueName)
    {
        Option option(std::move(key), std::move(valueName), std::move(englishValueName));
        option.m_entry.place = OptionEntry::Place::SettingsFile;
        return option;
    }

    // Also typed as -letter.
    Option &letter(QChar letter) { return set(&OptionEntry::letter, letter); }
    // The help's line in Chinese (it may run to more lines) and the line in English under it,
    // without the range and the default, which are appended from the row.
    Option &help(QString chinese, QString english)
    {
        m_entry.chinese = std::move(chinese);
        return set(&OptionEntry::english, std::move(english));
    }
    // A whole number from `lowest` to `highest`; refused otherwise: "应为 1 到 60000 之间的毫秒数".
    Option &within(qint64 lowest, qint64 highest, QString unit)
    {
        m_entry.lowest = lowest;
        m_entry.highest = highest;
        return set(&OptionEntry::unit, std::move(unit));
    }
    // Checked and landed as if given, when it is not (and what it needs is).
    Option &byDefault(QString text) { return set(&OptionEntry::byDefault, std::move(text)); }
    // What the packaged settings file shows for a key without a default.
    Option &example(QString text) { return set(&OptionEntry::example, std::move(text)); }
    // Also a key of the settings file: the long name with "_" for "-".
    Option &inFile() { return set(&OptionEntry::place, OptionEntry::Place::Everywhere); }
    // May be given more than once: in the settings file on several lines, or as a list separated
    // by commas.
    Option &repeatable() { return set(&OptionEntry::repeatable, true); }
    // Given more than once, the last value counts (as for a flag), where others are refused.
    Option &lastWins() { return set(&OptionEntry::lastWins, true); }
    // Means something only beside the option named `other`, and is refused without it; with
    // `value`, only that value is, and `why` says why.
    Option &needs(const QString &other, QString value = {}, QString why = {})
    {
        m_entry.needsOnlyFor = std::move(value);
        m_entry.needsWhy = std::move(why);
        return set(&OptionEntry::needs, other);
    }
    // Refused beside the option named `other`.
    Option &notWith(const QString &other) { return set(&OptionEntry::notWith, other); }
    // Its text may hold a password: messages never repeat it, and its check's failure names
    // what may be shown itself.
    Option &secret() { return set(&OptionEntry::secret, true); }
    // Given, it is all the program does: nothing else typed is looked at, and no default lands.
    Option &question() { return set(&OptionEntry::question, true); }
    // A question (--version) the program answers with `answer`, and ends.
    Option &answers(QString answer)
    {
        return question().set(&OptionEntry::answer, std::move(answer));
    }
    // Its value names the settings file, read under the command line.
    Option &namesSettingsFile() { return set(&OptionEntry::settingsFile, true); }

    // Each value lands in `destination` (a field of T, or a setter (T &, value[, const Given &])
    // giving nothing or why the value is refused), as `check` (text -> Result<value>) makes it.
    // Without a check, the text means what the destination's type says: a whole number within
    // the row's range, true or false, or the text itself.
    template <typename Destination, typename Check> Option &to(Destination destination, Check check)
    {
        m_land = [destination, check](T &options, const Given &given,
                                      const OptionEntry &) -> std::optional<QString> {
            auto value = check(given.text);
            if (!value)
                return value.error();
            return landed(options, destination, std::move(*value), given);
        };
        return *this;
    }
    template <typename Destination> Option &to(Destination destination)
    {
        using Value = decltype(optiondetail::destinationValue<T, Destination>());
        m_land = [destination](T &options, const Given &given,
                               const OptionEntry &entry) -> std::optional<QString> {
            if constexpr (std::is_same_v<Value, bool>) {
                const Result<bool> value = optiondetail::yes(given.text);
                if (!value)
                    return value.error();
                return landed(options, destination, *value, given);
            } else if constexpr (std::is_integral_v<Value>) {
                const Result<qint64> value = optiondetail::whole(entry, given.text);
                if (!value)
                    return value.error();
                return landed(options, destination, Value(*value), given);
            } else {
                static_assert(std::is_same_v<Value, QString>, "give the row a check");
                return landed(options, destination, given.text, given);
            }
        };
        return *this;
    }

    const OptionEntry &entry() const { return m_entry; }
    const Land &land() const { return m_land; }

private:
    template <typename Destination, typename Value>
    static std::optional<QString> landed(T &options, const Destination &destination, Value value,
                                         const Given &given)
    {
        if constexpr (std::is_member_object_pointer_v<Destination>) {
            options.*destination = std::move(value);
            return std::nullopt;
        } else {
            const auto call = [&] {
                if constexpr (std::is_invocable_v<Destination, T &, Value, const Given &>)
                    return destination(options, std::move(value), given);
                else
                    return destination(options, std::move(value));
            };
            if constexpr (std::is_void_v<decltype(call())>) {
                call();
                return std::nullopt;
            } else {
                return call();
            }
        }
    }

    template <typename P, typename V> Option &set(P OptionEntry::*property, V value)
    {
        m_entry.*property = std::move(value);
        return *this;
    }

    OptionEntry m_entry;
    Land m_land;
};
