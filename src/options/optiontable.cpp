#include "optiontable.h"

#include "settingsfile.h"

#include <QCommandLineParser>
#include <QHash>
#include <QRegularExpression>

namespace {
// Where the help's texts begin, in columns of a terminal.
constexpr qsizetype HelpColumn = 23;

QString dashed(const QString &name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// A Chinese character takes two columns of a terminal.
qsizetype columns(const QString &text)
{
    qsizetype width = 0;
    for (const QChar c : text)
        width += c.unicode() >= 0x2E80 ? 2 : 1;
    return width;
}
} // namespace

OptionTable::OptionTable(QString program, QList<Option> rows)
    : m_program(std::move(program))
    , m_rows(std::move(rows))
{
    m_rows.append(Option(QStringLiteral("help"))
                      .letter(u'h')
                      .help(QStringLiteral("显示本说明"), QStringLiteral("show this help"))
                      .question());
}

Result<OptionValues> OptionTable::read(const QStringList &arguments) const
{
    Result<OptionValues> given = typed(arguments);
    if (!given || asked(*given))
        return given;
    for (const Option &row : m_rows) {
        if (!row.isSettingsFile() || !given->has(row.name()))
            continue;
        const Result<OptionValues> file =
            readSettingsFile(given->all(row.name()).first().text, m_rows);
        if (!file)
            return Failure(file.error());
        given = file->replacedBy(*given);
    }
    return checked(*given);
}

Result<OptionValues> OptionTable::typed(const QStringList &arguments) const
{
    QCommandLineParser parser;
    for (const Option &row : m_rows) {
        if (row.isOnCommandLine())
            parser.addOption(QCommandLineOption(row.letter().isNull()
                                                    ? QStringList{row.name()}
                                                    : QStringList{row.letter(), row.name()},
                                                {}, row.valueName()));
    }
    if (!parser.parse(arguments)) {
        // Short of an unknown option, the parser's one complaint is a value missing after the
        // option it quotes.
        if (parser.unknownOptionNames().isEmpty()) {
            static const QRegularExpression quoted(QStringLiteral("'([^']*)'"));
            return Failure(
                QStringLiteral("选项 %1 缺少值").arg(quoted.match(parser.errorText()).captured(1)));
        }
        QStringList unknown;
        for (const QString &name : parser.unknownOptionNames())
            unknown << dashed(name);
        return Failure(QStringLiteral("未知选项：%1").arg(unknown.join(QStringLiteral("、"))));
    }

    OptionValues given;
    QHash<QString, qsizetype> taken;
    for (const QString &name : parser.optionNames()) {
        const Option &row = *named(name);
        const Given typed{row.isFlag() ? QStringLiteral("true")
                                       : parser.values(row.name()).at(taken[row.name()]++),
                          dashed(name),
                          {}};
        if (row.isQuestion()) {
            OptionValues asked;
            asked.add(row.name(), typed);
            return asked;
        }
        if (row.isLastWinning())
            given.replace(row.name(), typed);
        else
            given.add(row.name(), typed);
    }
    if (!parser.positionalArguments().isEmpty())
        return Failure(
            QStringLiteral("多余的参数：%1").arg(parser.positionalArguments().join(u' ')));
    for (const Option &row : m_rows) {
        const QList<Given> values = given.all(row.name());
        if (values.size() < 2 || row.isRepeatable())
            continue;
        const QString once = QStringLiteral("%1 只能给一次").arg(values[0].where);
        return Failure(
            row.isSecret()
                ? once
                : QStringLiteral("%1，却给了“%2”和“%3”").arg(once, values[0].text, values[1].text));
    }
    return given;
}

Result<OptionValues> OptionTable::checked(const OptionValues &given) const
{
    OptionValues checked;
    for (const Option &row : m_rows) {
        const QList<Given> values = given.all(row.name());
        if (!values.isEmpty() && !row.needs().isEmpty() && !given.has(row.needs()))
            return Failure(
                QStringLiteral("%1 只能与 --%2 同用").arg(values.first().where, row.needs()));
        for (Given value : values) {
            const Result<QVariant> meaning = row.meaning(value.text);
            if (!meaning && row.isSecret())
                return Failure(QStringLiteral("%1：%2").arg(value.option(), meaning.error()));
            if (!meaning)
                return Failure(value.invalid(meaning.error()));
            value.value = *meaning;
            checked.add(row.name(), value);
        }
    }
    return checked;
}

const Option *OptionTable::named(const QString &name) const
{
    for (const Option &row : m_rows) {
        if (row.name() == name || (name.size() == 1 && row.letter() == name.front()))
            return &row;
    }
    return nullptr;
}

bool OptionTable::asked(const OptionValues &given) const
{
    for (const Option &row : m_rows) {
        if (row.isQuestion() && given.has(row.name()))
            return true;
    }
    return false;
}

QString OptionTable::help(const QString &about, const QString &notes) const
{
    const QString indent(HelpColumn, u' ');
    QString text = QStringLiteral("用法：%1 [选项]\nUsage: %1 [options]\n\n%2\n\n选项 Options:\n")
                       .arg(m_program, about);
    for (const Option &row : m_rows) {
        if (!row.isOnCommandLine())
            continue;
        QString names =
            QStringLiteral("  ") +
            (row.letter().isNull() ? QString() : dashed(row.letter()) + QStringLiteral(", ")) +
            dashed(row.name());
        if (!row.isFlag())
            names += QStringLiteral(" <%1>").arg(row.valueName());
        names += QString(qMax(HelpColumn - columns(names), qsizetype(2)), u' ');
        text += names + QString(row.chinese()).replace(u'\n', u'\n' + indent) + u'\n' + indent +
                row.english() + u'\n';
    }
    return text + u'\n' + notes;
}
