#pragma once

#include "option.h"
#include "optionvalues.h"
#include "result.h"

#include <QList>
#include <QString>
#include <QStringList>

// A program's options, one row each, whatever they land in: it reads the command line (and the
// settings file a row names) into the texts given, and writes the help. A row -h, --help comes
// last.
class OptionRows {
public:
    // Why a value given for row `row` cannot land, or nothing when it did.
    using Land = std::function<std::optional<QString>(qsizetype row, const Given &given)>;

    OptionRows(QString program, QString about, QString notes, QList<OptionEntry> rows);

    // The texts given for the options, or why the command line cannot be followed. When a
    // question (--help) is asked, it is all that is given.
    Result<OptionValues> read(const QStringList &arguments) const;
    // The answer to the question asked, if one with an answer was.
    std::optional<QString> answer(const OptionValues &given) const;
    // Each row's values, or its default where it has one, what it needs is given and no question
    // was asked, to `land` in the rows' order; or why one cannot be had, worded for the user.
    Result<void> land(const OptionValues &given, const Land &land) const;

    // The usage line, the program's about, each row's option with its Chinese line and its
    // English line, and its notes.
    QString help() const;
    QString program() const { return m_program; }
    const QList<OptionEntry> &rows() const { return m_rows; }

private:
    Result<OptionValues> typed(const QStringList &arguments) const;
    const OptionEntry *named(const QString &name) const;

    QString m_program;
    QString m_about;
    QString m_notes;
    QList<OptionEntry> m_rows;
};

// What a command line asks for: the options to run with, or the answer to a question (--help).
template <typename T> struct Asked {
    std::optional<T> options;
    QString answer;
};

// A program's options as rows of Option<T>, the one place they are declared: each value lands in
// the options struct T as it is checked.
template <typename T> class OptionTable {
public:
    OptionTable(QString program, QString about, QString notes, const QList<Option<T>> &rows)
        : m_rows(std::move(program), std::move(about), std::move(notes), entries(rows))
    {
        for (const Option<T> &row : rows)
            m_lands.append(row.land());
    }

    // The options of `arguments` landed in `options`, or the answer to the question asked, or
    // why the command line cannot be followed.
    Result<Asked<T>> read(const QStringList &arguments, T options = {}) const
    {
        const Result<OptionValues> given = m_rows.read(arguments);
        if (!given)
            return Failure(given.error());
        if (const std::optional<QString> answer = m_rows.answer(*given))
            return Asked<T>{std::nullopt, *answer};
        const Result<void> landed =
            m_rows.land(*given, [&](qsizetype row, const Given &value) -> std::optional<QString> {
                if (row >= m_lands.size() || !m_lands[row])
                    return std::nullopt;
                return m_lands[row](options, value, m_rows.rows()[row]);
            });
        if (!landed)
            return Failure(landed.error());
        return Asked<T>{std::move(options), {}};
    }

    const OptionRows &rows() const { return m_rows; }

private:
    static QList<OptionEntry> entries(const QList<Option<T>> &rows)
    {
        QList<OptionEntry> entries;
        for (const Option<T> &row : rows)
            entries.append(row.entry());
        return entries;
    }

    OptionRows m_rows;
    QList<typename Option<T>::Land> m_lands;
};
