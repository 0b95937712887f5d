#pragma once

#include "result.h"

#include <QString>
#include <QVariant>
#include <functional>

// One option of a program, declared once: how it is typed on the command line and in the settings
// file, what --help says of it, and what its text means.
//   Option(u"interval"_qs, u"毫秒"_qs).help(u"多久…"_qs, u"how often…"_qs).check(interval).inFile()
class Option {
public:
    // --name on the command line. With a value name it takes a value; without one it is a flag,
    // true when given (in the settings file: true or false).
    explicit Option(QString name, QString valueName = {});
    // A key of the settings file and nowhere else, for what not every user of the machine may read.
    static Option fileOnly(QString key);

    // Also typed as -letter.
    Option &letter(QChar letter) { return set(m_letter, letter); }
    // The help's line in Chinese (it may run to more lines) and the line in English under it.
    Option &help(QString chinese, QString english)
    {
        m_chinese = std::move(chinese);
        m_english = std::move(english);
        return *this;
    }
    // `check` takes the text as typed and gives a Result<T> of what it means, or why it is wrong.
    // Without one the text means itself.
    template <typename Check> Option &check(Check check)
    {
        m_check = [check](const QString &text) -> Result<QVariant> {
            auto value = check(text);
            if (!value)
                return Failure(value.error());
            return QVariant::fromValue(*value);
        };
        return *this;
    }
    // Also a key of the settings file: the long name with "_" for "-".
    Option &inFile() { return set(m_place, Place::Everywhere); }
    // May be given more than once; in the settings file, as a list separated by commas.
    Option &repeatable() { return set(m_repeatable, true); }
    // Given more than once, the last value counts (as for a flag), where others are refused.
    Option &lastWins() { return set(m_lastWins, true); }
    // Means something only beside the option named `other`, and is refused without it.
    Option &needs(const QString &other) { return set(m_needs, other); }
    // Its text may hold a password: messages never repeat it, and its check's failure names
    // what may be shown itself.
    Option &secret() { return set(m_secret, true); }
    // Asked (--help, --version), the program answers and ends: nothing else typed is looked at.
    Option &question() { return set(m_question, true); }
    // Its value names the settings file, read under the command line.
    Option &namesSettingsFile() { return set(m_settingsFile, true); }

    QString name() const { return m_name; }
    QString key() const;
    QChar letter() const { return m_letter; }
    QString valueName() const { return m_valueName; }
    QString chinese() const { return m_chinese; }
    QString english() const { return m_english; }
    bool isFlag() const { return m_flag; }
    bool isOnCommandLine() const { return m_place != Place::SettingsFile; }
    bool isInFile() const { return m_place != Place::CommandLine; }
    bool isRepeatable() const { return m_repeatable; }
    bool isLastWinning() const { return m_lastWins || m_flag; }
    QString needs() const { return m_needs; }
    bool isSecret() const { return m_secret; }
    bool isQuestion() const { return m_question; }
    bool isSettingsFile() const { return m_settingsFile; }

    // What the text means, by the check.
    Result<QVariant> meaning(const QString &text) const;

private:
    enum class Place { CommandLine, Everywhere, SettingsFile };

    template <typename T> Option &set(T &property, const T &value)
    {
        property = value;
        return *this;
    }

    QString m_name;
    QString m_valueName;
    bool m_flag;
    QChar m_letter;
    QString m_chinese;
    QString m_english;
    std::function<Result<QVariant>(const QString &text)> m_check;
    Place m_place = Place::CommandLine;
    bool m_repeatable = false;
    bool m_lastWins = false;
    QString m_needs;
    bool m_secret = false;
    bool m_question = false;
    bool m_settingsFile = false;
};
