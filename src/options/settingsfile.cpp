#include "settingsfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QTemporaryFile>
#include <algorithm>

namespace {
constexpr qint64 MaxBytes = 64 * 1024;

// QSettings knows only ";" for comments, and reads only files; a line starting with "#" is a
// comment too, as in every other file under /etc, and one holding a lone quote would hide every
// line after it. So QSettings reads a copy without them.
Result<void> copyWithoutComments(QFile &file, QTemporaryFile &copy)
{
    if (!copy.open())
        return Failure(QStringLiteral("没有地方放它的副本"));
    for (const QByteArray &line : file.readAll().split('\n'))
        copy.write(line.trimmed().startsWith('#') ? QByteArray("\n") : line + '\n');
    copy.close();
    return {};
}
} // namespace

Result<OptionValues> readSettingsFile(const QString &path, const QList<Option> &rows)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return Failure(QStringLiteral("配置文件“%1”不存在或无法读取").arg(path));
    if (file.size() > MaxBytes)
        return Failure(QStringLiteral("配置文件“%1”太大，不像是配置文件").arg(path));
    QTemporaryFile copy;
    if (const Result<void> copied = copyWithoutComments(file, copy); !copied)
        return Failure(QStringLiteral("配置文件“%1”无法读取：%2").arg(path, copied.error()));
    const QSettings settings(copy.fileName(), QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return Failure(QStringLiteral("配置文件“%1”的格式有误").arg(path));

    QStringList keys;
    for (const Option &row : rows) {
        if (row.isInFile())
            keys << row.key();
    }
    OptionValues values;
    for (const QString &key : settings.allKeys()) {
        if (key.contains(u'/'))
            return Failure(
                QStringLiteral("配置文件“%1”：设置须写在任何 [节] 之前，而“%2”在节 [%3] 中")
                    .arg(path, key.section(u'/', 1), key.section(u'/', 0, 0)));
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const Option &row) {
            return row.isInFile() && row.key() == key;
        });
        if (row == rows.end())
            return Failure(QStringLiteral("配置文件“%1”：不认识的设置“%2”（认识的有：%3）")
                               .arg(path, key, keys.join(QStringLiteral("、"))));
        // A value with commas reads as a list: several values, or one holding a comma.
        const QStringList parts = settings.value(key).toStringList();
        const QString where = QStringLiteral("配置文件“%1”中的 %2=").arg(path, key);
        for (const QString &text : row->isRepeatable() ? parts : QStringList{parts.join(u',')})
            values.add(row->name(), {text.trimmed(), where, {}});
    }
    return values;
}
