#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <optional>

// The request file "api.txt" that another program drops into a directory. Only its first field
// is read: leading spaces and tabs skipped, then either a quoted field (commas and line ends
// inside belong to it) or text up to the first ASCII comma, CR or LF. The file is read as GBK.
class RequestFile {
public:
    // A request is a short sentence; a cycle never reads more of the file than this, so a
    // runaway producer cannot exhaust memory or stall the user-interface thread.
    static constexpr qsizetype MaxBytes = 16 * 1024;
    static constexpr QStringView Name = u"api.txt";

    // The unattended relay may be told another name than "api.txt".
    explicit RequestFile(const QString &directory, QStringView name = Name);
    ~RequestFile() { close(); }
    RequestFile(const RequestFile &) = delete;
    RequestFile &operator=(const RequestFile &) = delete;

    // True only for an ordinary file: a directory, FIFO, device node, socket or dangling link
    // under the name counts as absent, and so does a file marked hidden or system where files
    // carry such marks.
    bool exists() const;
    // Opens for reading without ever blocking, and without standing in the way of the producer
    // replacing or removing the file meanwhile.
    bool open();
    // Empty when the file could not be read.
    std::optional<QString> readFirstField();
    // The same, undecoded: the bytes stay valid until the next read.
    std::optional<QByteArrayView> readFirstFieldBytes();
    // A field's text, read as GBK.
    static QString decode(QByteArrayView field);
    void close();

    // The first field of `bytes`, or nothing when more bytes could still change it. With
    // `atEnd` the bytes are all there is, and a quote left open runs to the end of its line.
    static std::optional<QByteArrayView> firstField(QByteArrayView bytes, bool atEnd);

private:
    // Reads what the open file holds up to `size` bytes, or -1.
    qint64 read(char *data, qint64 size);
    // One read of the platform's: what it gave, 0 at the end, or -1.
    qint64 readSome(char *data, qint64 size);

    // The path as the platform's own file functions take it, made once, and the platform's handle
    // of the open file: the file functions are called directly, once each a tick.
    QByteArray m_nativePath;
    qintptr m_handle = -1;
    // What was read, kept from one tick to the next.
    QByteArray m_bytes;
};
