#pragma once

#include "option.h"
#include "optionvalues.h"
#include "result.h"

#include <QList>
#include <QString>
#include <QStringList>

// A program's options, one row each: the one place they are declared. It reads the command line
// (and the settings file a row names) and writes the help. A row -h, --help comes last.
class OptionTable {
public:
    OptionTable(QString program, QList<Option> rows);

    // The options given, each checked, or why the command line cannot be followed. When a
    // question (--help) is asked, it is all that is given.
    Result<OptionValues> read(const QStringList &arguments) const;

    // The usage line, `about`, each row's option with its Chinese line and its English line, and
    // `notes`.
    QString help(const QString &about, const QString &notes) const;

private:
    Result<OptionValues> typed(const QStringList &arguments) const;
    Result<OptionValues> checked(const OptionValues &given) const;
    const Option *named(const QString &name) const;
    bool asked(const OptionValues &given) const;

    QString m_program;
    QList<Option> m_rows;
};
