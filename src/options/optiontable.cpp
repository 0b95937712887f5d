#include "optiontable.h"

#include "settingsfile.h"

#include <QCommandLineParser>
#include <QHash>
#include <QRegularExpression>
#include <algorithm>

namespace {
// Where the help's texts begin, in columns of a terminal.
constexpr qsizetype HelpColumn = 23;

QString dashed(const QString &name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

} // namespace

OptionRows::OptionRows(QString program, QString about, QString notes, QList<OptionEntry> rows)
    : m_program(std::move(program))
    , m_about(std::move(about))
    , m_notes(std::move(notes))
    , m_rows(std::move(rows))
{
    OptionEntry help;
    help.name = QStringLiteral("help");
    help.letter = u'h';
    help.chinese = QStringLiteral("显示本说明");
    help.english = QStringLiteral("show this help");
    help.question = true;
    m_rows.append(help);
    m_rows.last().answer = this->help();
}

Result<OptionValues> OptionRows::read(const QStringList &arguments) const
{
    Result<OptionValues> given = typed(arguments);
    if (!given || std::any_of(m_rows.begin(), m_rows.end(), [&](const OptionEntry &row) {
            return row.question && given->has(row.name);
        }))
        return given;
    for (const OptionEntry &row : m_rows) {
        if (!row.settingsFile || !given->has(row.name))
            continue;
        const Result<OptionValues> file =
            readSettingsFile(given->all(row.name).first().text, m_rows);
        if (!file)
            return Failure(file.error());
        given = file->replacedBy(*given);
    }
    return given;
}

std::optional<QString> OptionRows::answer(const OptionValues &given) const
{
    for (const OptionEntry &row : m_rows) {
        if (row.question && given.has(row.name) && !row.answer.isEmpty())
            return row.answer;
    }
    return std::nullopt;
}

Result<OptionValues> OptionRows::typed(const QStringList &arguments) const
{
    QCommandLineParser parser;
    for (const OptionEntry &row : m_rows) {
        if (row.isOnCommandLine())
            parser.addOption(QCommandLineOption(
                row.letter.isNull() ? QStringList{row.name} : QStringList{row.letter, row.name}, {},
                row.valueName));
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
        const OptionEntry &row = *named(name);
        const Given typed{row.isFlag() ? QStringLiteral("true")
                                       : parser.values(row.name).at(taken[row.name]++),
                          dashed(name),
                          {}};
        if (row.question) {
            OptionValues asked;
            asked.add(row.name, typed);
            return asked;
        }
        if (row.isLastWinning())
            given.replace(row.name, typed);
        else
            given.add(row.name, typed);
    }
    if (!parser.positionalArguments().isEmpty())
        return Failure(
            QStringLiteral("多余的参数：%1").arg(parser.positionalArguments().join(u' ')));
    for (const OptionEntry &row : m_rows) {
        const QList<Given> values = given.all(row.name);
        if (values.size() < 2 || row.repeatable)
            continue;
        const QString once = QStringLiteral("%1 只能给一次").arg(values[0].where);
        return Failure(
            row.secret
                ? once
                : QStringLiteral("%1，却给了“%2”和“%3”").arg(once, values[0].text, values[1].text));
    }
    return given;
}

Result<void> OptionRows::land(const OptionValues &given, const Land &land) const
{
    const bool asked = std::any_of(m_rows.begin(), m_rows.end(), [&](const OptionEntry &row) {
        return row.question && given.has(row.name);
    });
    for (qsizetype index = 0; index < m_rows.size(); ++index) {
        const OptionEntry &row = m_rows[index];
        QList<Given> values = given.all(row.name);
        const bool needed = row.needs.isEmpty() || given.has(row.needs);
        for (const Given &value : std::as_const(values)) {
            if (needed || (!row.needsOnlyFor.isEmpty() && value.text != row.needsOnlyFor))
                continue;
            const QString why = row.needsWhy.isEmpty() ? QString() : u'：' + row.needsWhy;
            return Failure(
                QStringLiteral("%1 只能与 --%2 同用%3")
                    .arg(row.needsOnlyFor.isEmpty() ? value.where : value.typed(), row.needs, why));
        }
        if (!values.isEmpty() && !row.notWith.isEmpty() && given.has(row.notWith))
            return Failure(
                QStringLiteral("%1 与 %2 只能给一个")
                    .arg(values.first().option(), given.all(row.notWith).first().option()));
        if (values.isEmpty() && !asked && !row.byDefault.isEmpty() &&
            (needed || !row.needsOnlyFor.isEmpty()))
            values.append({row.byDefault, QStringLiteral("--%1 的默认值").arg(row.name), {}});
        for (const Given &value : std::as_const(values)) {
            const std::optional<QString> why = land(index, value);
            if (why && row.secret)
                return Failure(QStringLiteral("%1：%2").arg(value.option(), *why));
            if (why)
                return Failure(value.invalid(*why));
        }
    }
    return {};
}

const OptionEntry *OptionRows::named(const QString &name) const
{
    for (const OptionEntry &row : m_rows) {
        if (row.name == name || (name.size() == 1 && row.letter == name.front()))
            return &row;
    }
    return nullptr;
}

QString OptionRows::help() const
{
    const QString indent(HelpColumn, u' ');
    QString text = QStringLiteral("用法：%1 [选项]\nUsage: %1 [options]\n\n%2\n\n选项 Options:\n")
                       .arg(m_program, m_about);
    for (const OptionEntry &row : m_rows) {
        if (!row.isOnCommandLine())
            continue;
        QString names =
            QStringLiteral("  ") +
            (row.letter.isNull() ? QString() : dashed(row.letter) + QStringLiteral(", ")) +
            dashed(row.name);
        if (!row.isFlag())
            names += QStringLiteral(" <%1>").arg(row.valueName);
        names += QString(qMax(HelpColumn - optiondetail::columns(names), qsizetype(2)), u' ');
        text += names + row.described(false).replace(u'\n', u'\n' + indent) + u'\n' + indent +
                row.described(true) + u'\n';
    }
    return text + u'\n' + m_notes;
}
