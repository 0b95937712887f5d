#pragma once

#include "optiontable.h"

#include <QString>

// What the manual pages, the packaged settings file and the README say of a program's options,
// made from its rows, so that none of them can tell another story than --help.
class OptionReference {
public:
    explicit OptionReference(const OptionRows &rows);

    // scdoc: each option of the command line, its Chinese line, then its English line.
    QString manualOptions() const;
    // scdoc: each key of the settings file.
    QString manualKeys() const;
    // Each key of the settings file, commented out, after its help: "#interval=1".
    QString settingsFile() const;
    // A Markdown table of the options and keys, in English.
    QString markdown() const;

private:
    QString manualEntry(const OptionEntry &row, const QString &term) const;

    const OptionRows &m_rows;
};
