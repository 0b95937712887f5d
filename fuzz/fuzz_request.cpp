// Writes arbitrary bytes as "api.txt", reads its first field as the poll cycle does and builds
// the command from it. Any crash, sanitizer report or malformed command ends the run.
#include "commandbuilder.h"
#include "requestfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace {
QTemporaryDir *directory;

void fail(const char *what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

bool isValidCommand(const QString &command)
{
    if (command.isEmpty())
        return true;
    for (QStringView device : CommandBuilder::DeviceWords) {
        for (QStringView suffix : {CommandBuilder::OnSuffix, CommandBuilder::OffSuffix}) {
            if (command.size() == device.size() + suffix.size() && command.startsWith(device) &&
                command.endsWith(suffix))
                return true;
        }
    }
    return false;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    directory = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/fuzz-request-XXXXXX"));
    return directory->isValid() ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QFile out(directory->filePath(QStringLiteral("api.txt")));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        out.write(bytes.data(), bytes.size()) != bytes.size())
        fail("could not write api.txt");
    out.close();

    RequestFile file(directory->path());
    if (!file.exists() || !file.open())
        fail("api.txt written but not readable");
    const std::optional<QString> field = file.readFirstField();
    file.close();
    if (!field)
        fail("read failed on an ordinary file");

    // One byte gives at most one character, and an unquoted field never holds its delimiters.
    if (field->size() > RequestFile::MaxBytes)
        fail("field longer than the bound");
    const auto start =
        std::find_if(bytes.begin(), bytes.end(), [](char c) { return c != ' ' && c != '\t'; });
    if ((start == bytes.end() || *start != '"') &&
        (field->contains(u',') || field->contains(u'\r') || field->contains(u'\n')))
        fail("unquoted field runs past its end");

    if (!isValidCommand(CommandBuilder::buildCommand(*field)))
        fail("malformed command");
    return 0;
}
