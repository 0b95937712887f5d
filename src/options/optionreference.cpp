#include "optionreference.h"

#include <QStringList>

namespace {
// Where a manual page's lines end, in columns: Chinese has no spaces to break a line at, so a long
// line is broken after a comma within it.
constexpr qsizetype ManualColumns = 64;

QString brokenAtCommas(const QString &line)
{
    QString text;
    qsizetype start = 0, lastComma = -1;
    for (qsizetype at = 0; at < line.size(); ++at) {
        if (QStringView(u"，；：、").contains(line[at]))
            lastComma = at;
        if (optiondetail::columns(line.sliced(start, at - start)) > ManualColumns &&
            lastComma > start) {
            text += line.sliced(start, lastComma + 1 - start) + u'\n';
            start = lastComma + 1;
        }
    }
    return text + line.sliced(start);
}

QString scdoc(QString text)
{
    return text.replace(u'\\', QStringLiteral("\\\\"))
        .replace(u'*', QStringLiteral("\\*"))
        .replace(u'_', QStringLiteral("\\_"));
}

// The help's words as a sentence: "How often … ms, 1 to 60000, default 1."
QString sentence(QString text, bool english)
{
    if (english && !text.isEmpty())
        text[0] = text[0].toUpper();
    return text + (english ? u'.' : u'。');
}

// A value in the manual pages: its Chinese and English names, in italics.
QString valueTerm(const OptionEntry &row)
{
    return QStringLiteral("_%1_").arg(scdoc(row.valueName + u' ' + row.englishValueName));
}

QString options(const OptionEntry &row, const QString &bold, const QString &value)
{
    const QString letter = QStringLiteral("-") + row.letter;
    const QString term =
        (row.letter.isNull() ? QString() : bold.arg(letter) + QStringLiteral(", ")) +
        bold.arg(QStringLiteral("--") + row.name);
    return row.isFlag() ? term : term + u' ' + value;
}
} // namespace

OptionReference::OptionReference(const OptionRows &rows)
    : m_rows(rows)
{
}

QString OptionReference::manualEntry(const OptionEntry &row, const QString &term) const
{
    QStringList lines = sentence(row.described(false), false).split(u'\n');
    for (QString &line : lines)
        line = brokenAtCommas(line);
    const QString chinese = scdoc(lines.join(u'\n'));
    return term + QStringLiteral("\n\t") +
           QString(chinese).replace(u'\n', QStringLiteral(" ++\n")) + QStringLiteral(" ++\n") +
           scdoc(sentence(row.described(true), true)) + QStringLiteral("\n\n");
}

QString OptionReference::manualOptions() const
{
    QString text;
    for (const OptionEntry &row : m_rows.rows()) {
        if (!row.isOnCommandLine())
            continue;
        text += manualEntry(row, options(row, QStringLiteral("*%1*"), valueTerm(row)));
    }
    return text.trimmed();
}

QString OptionReference::manualKeys() const
{
    QString text;
    for (const OptionEntry &row : m_rows.rows()) {
        if (!row.isInFile())
            continue;
        const QString value = row.isFlag() ? QStringLiteral("*true*|*false*") : valueTerm(row);
        text += manualEntry(row, u'*' + scdoc(row.key()) + QStringLiteral("*=") + value);
    }
    return text.trimmed();
}

QString OptionReference::settingsFile() const
{
    QString text;
    for (const OptionEntry &row : m_rows.rows()) {
        if (!row.isInFile())
            continue;
        const QString chinese = sentence(row.described(false), false);
        text += QStringLiteral("# ") + QString(chinese).replace(u'\n', QStringLiteral("\n# ")) +
                QStringLiteral("\n# ") + sentence(row.described(true), true) +
                QStringLiteral("\n#%1=%2\n\n")
                    .arg(row.key(), row.byDefault.isEmpty() ? row.example : row.byDefault);
    }
    return text.trimmed();
}

QString OptionReference::markdown() const
{
    QString text = QStringLiteral("| option | key | what it does |\n|---|---|---|\n");
    for (const OptionEntry &row : m_rows.rows()) {
        const QString option =
            row.isOnCommandLine()
                ? options(row, QStringLiteral("`%1`"), u'`' + row.englishValueName + u'`')
                      .replace(QStringLiteral("` `"), QStringLiteral(" "))
                : QString();
        const QString key = row.isInFile() ? u'`' + row.key() + QStringLiteral("=`") : QString();
        text += QStringLiteral("| %1 | %2 | %3 |\n")
                    .arg(option, key,
                         sentence(row.described(true), true).replace(u'|', QStringLiteral("\\|")));
    }
    return text.trimmed();
}
