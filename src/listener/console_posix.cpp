#include "console.h"

#include <unistd.h>

void writeText(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written =
            ::write(::fileno(stream), bytes.constData() + done, size_t(bytes.size() - done));
        if (written <= 0)
            return;
        done += written;
    }
}
