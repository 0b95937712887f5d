#include "console.h"

#include <QDateTime>

QString misuse(const QString &why)
{
    return escaped(why) + QStringLiteral("（用 --help 查看用法）");
}

QString escaped(QStringView text)
{
    QString line;
    line.reserve(text.size());
    for (const QChar c : text) {
        if (!writtenOut(c))
            line += c;
        else if (c == u'\n')
            line += u"\\n";
        else if (c == u'\r')
            line += u"\\r";
        else if (c == u'\t')
            line += u"\\t";
        else if (c.unicode() < 0x100)
            line += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar(u'0'));
        else
            line += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QChar(u'0'));
    }
    return line;
}

bool writtenOut(QChar c)
{
    switch (c.unicode()) {
    case QChar::LineSeparator:
    case QChar::ParagraphSeparator:
    case 0x061c: // the Arabic letter mark
    case 0x200e: // the left-to-right and right-to-left marks
    case 0x200f:
        return true;
    }
    return c.category() == QChar::Other_Control ||
           (c.unicode() >= 0x202a && c.unicode() <= 0x202e) || // embeddings and overrides
           (c.unicode() >= 0x2066 && c.unicode() <= 0x2069);   // isolates
}

QString timeStamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}
