#include "settingsfile.h"

#include "regularfile.h"

#include <QFile>
#include <QHash>
#include <QStringDecoder>
#include <QStringList>
#include <algorithm>
#include <cstring>

#include <ini.h>

namespace {
constexpr qint64 MaxBytes = 64 * 1024;

// One value as inih gives it, with the line it came from as written.
struct Entry {
    QByteArray section;
    QByteArray name;
    QByteArray value;
    int line;
    QByteArray written;
};

// inih reads through this a line at a time, so that each value comes with its line; a line longer
// than inih's buffer ends the reading instead of being cut in two.
struct Reading {
    QByteArray bytes;
    qsizetype at = 0;
    int line = 0;
    QByteArray written;
    bool tooLong = false;
    QList<Entry> entries;
};

char *nextLine(char *buffer, int size, void *stream)
{
    Reading &reading = *static_cast<Reading *>(stream);
    if (reading.at >= reading.bytes.size())
        return nullptr;
    qsizetype end = reading.bytes.indexOf('\n', reading.at);
    end = end < 0 ? reading.bytes.size() : end + 1;
    const QByteArray line = reading.bytes.sliced(reading.at, end - reading.at);
    reading.at = end;
    ++reading.line;
    reading.written = line;
    while (reading.written.endsWith('\n') || reading.written.endsWith('\r'))
        reading.written.chop(1);
    if (reading.line == 1 && reading.written.startsWith("\xEF\xBB\xBF"))
        reading.written.remove(0, 3);
    if (line.size() >= size) {
        reading.tooLong = true;
        return nullptr;
    }
    std::memcpy(buffer, line.constData(), size_t(line.size()));
    buffer[line.size()] = '\0';
    return buffer;
}

int entered(void *user, const char *section, const char *name, const char *value)
{
    Reading &reading = *static_cast<Reading *>(user);
    reading.entries.append({section, name, value, reading.line, reading.written});
    return 1;
}

// The text after "name =" on the line, when the line starts with the name: otherwise inih took
// the line, indented, as one more line of the value before.
std::optional<QByteArray> writtenValue(const Entry &entry)
{
    const QByteArray line = entry.written.trimmed();
    if (!line.startsWith(entry.name))
        return std::nullopt;
    const QByteArray rest = line.sliced(entry.name.size()).trimmed();
    if (rest.isEmpty() || (rest.front() != '=' && rest.front() != ':'))
        return std::nullopt;
    return rest.sliced(1).trimmed();
}

// The value exactly as written, or why it cannot be had so.
Result<QString> asWritten(const QString &path, const Entry &entry)
{
    const QString line = QStringLiteral("配置文件“%1”第 %2 行").arg(path).arg(entry.line);
    const QString key = QString::fromUtf8(entry.name);
    const std::optional<QByteArray> written = writtenValue(entry);
    if (!written)
        return Failure(QStringLiteral("%1以空白开头，会被当作 %2= 的续行：每个设置写在一行，"
                                      "行首不留空白")
                           .arg(line, key));
    if (*written != entry.value)
        return Failure(QStringLiteral("%1：%2= 的值中空白后的“;”起会被当作注释，值便不是所写的；"
                                      "注释请另起一行，这样的密码请放在 mqtt_password_file "
                                      "所指的文件中")
                           .arg(line, key));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(entry.value);
    if (utf8.hasError())
        return Failure(QStringLiteral("%1：%2= 的值不是 UTF-8 文本").arg(line, key));
    return text;
}

Result<Reading> parsed(const QString &path)
{
    QFile file;
    if (const Result<void> opened = openRegularFile(file, path); !opened)
        return Failure(QStringLiteral("配置文件“%1”%2").arg(path, opened.error()));
    if (file.size() > MaxBytes)
        return Failure(QStringLiteral("配置文件“%1”太大，不像是配置文件").arg(path));
    Reading reading;
    reading.bytes = file.readAll();
    if (reading.bytes.contains('\0'))
        return Failure(QStringLiteral("配置文件“%1”不是文本文件").arg(path));
    const int malformed = ini_parse_stream(nextLine, &reading, entered, &reading);
    if (reading.tooLong)
        return Failure(QStringLiteral("配置文件“%1”第 %2 行（%3）太长：一行至多 %4 字节")
                           .arg(path)
                           .arg(reading.line)
                           .arg(QString::fromUtf8(reading.written.split('=').first().trimmed()))
                           .arg(INI_MAX_LINE - 2));
    if (malformed != 0)
        return Failure(QStringLiteral("配置文件“%1”第 %2 行的格式有误：应为 设置=值")
                           .arg(path)
                           .arg(malformed));
    return reading;
}
} // namespace

Result<OptionValues> readSettingsFile(const QString &path, const QList<OptionEntry> &rows)
{
    const Result<Reading> reading = parsed(path);
    if (!reading)
        return Failure(reading.error());

    QStringList keys;
    for (const OptionEntry &row : rows) {
        if (row.isInFile())
            keys << row.key();
    }
    OptionValues values;
    QHash<QByteArray, int> lines;
    for (const Entry &entry : reading->entries) {
        const QString key = QString::fromUtf8(entry.name);
        if (!entry.section.isEmpty())
            return Failure(
                QStringLiteral("配置文件“%1”：设置须写在任何 [节] 之前，而“%2”在节 [%3] 中")
                    .arg(path, key, QString::fromUtf8(entry.section)));
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const OptionEntry &row) {
            return row.isInFile() && row.key() == key;
        });
        if (row == rows.end())
            return Failure(QStringLiteral("配置文件“%1”：不认识的设置“%2”（认识的有：%3）")
                               .arg(path, key, keys.join(QStringLiteral("、"))));
        const Result<QString> text = asWritten(path, entry);
        if (!text)
            return Failure(text.error());
        if (lines.contains(entry.name) && !row->repeatable)
            return Failure(QStringLiteral("配置文件“%1”中的 %2= 写了两次：第 %3 行和第 %4 行")
                               .arg(path, key)
                               .arg(lines[entry.name])
                               .arg(entry.line));
        lines.insert(entry.name, entry.line);
        const QString where = QStringLiteral("配置文件“%1”中的 %2=").arg(path, key);
        // Several values of one key are written on several lines, or as a list separated by commas.
        for (const QString &part : row->repeatable ? text->split(u',') : QStringList{*text})
            values.add(row->name, {row->repeatable ? part.trimmed() : part, where, path});
    }
    return values;
}
