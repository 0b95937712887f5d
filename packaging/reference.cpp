// morvane-reference TEMPLATE OUTPUT: the template with each line "@NAME@" replaced by that part
// of the options' reference. morvane-reference --check|--write FILE.md: whether the parts of a
// Markdown page, between "<!-- @NAME@ -->" and "<!-- end of @NAME@ -->", are what the tables give,
// or writes them so.
#include "listeneroptions.h"
#include "optionreference.h"
#include "relayoptions.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <cstdio>

namespace {
QHash<QString, QString> parts()
{
    const OptionTable<RelayOptions> relay = relayOptionTable(QStringLiteral(MORVANE_REQUEST_FILE));
    const OptionTable<ListenerOptions> listener = listenerOptionTable();
    const OptionReference relayReference(relay.rows()), listenerReference(listener.rows());
    return {{u"@RELAY_OPTIONS@"_qs, relayReference.manualOptions()},
            {u"@RELAY_KEYS@"_qs, relayReference.manualKeys()},
            {u"@RELAY_SETTINGS@"_qs, relayReference.settingsFile()},
            {u"@RELAY_TABLE@"_qs, relayReference.markdown()},
            {u"@LISTENER_OPTIONS@"_qs, listenerReference.manualOptions()}};
}

// The text with each part filled in, and how many places took one.
std::pair<QString, int> filledIn(QString text, bool between)
{
    int places = 0;
    const QHash<QString, QString> all = parts();
    for (auto part = all.begin(); part != all.end(); ++part) {
        const QString name = QRegularExpression::escape(part.key());
        const QRegularExpression place(
            between ? QStringLiteral("(?<=<!-- %1 -->\n)(?:.*?\n)?(?=<!-- end of %1 -->)").arg(name)
                    : QStringLiteral("^%1$").arg(name),
            QRegularExpression::MultilineOption | QRegularExpression::DotMatchesEverythingOption);
        const QString value = between ? part.value() + u'\n' : part.value();
        for (QRegularExpressionMatch found = place.match(text); found.hasMatch();
             found = place.match(text, found.capturedStart() + value.size())) {
            text.replace(found.capturedStart(), found.capturedLength(), value);
            ++places;
        }
    }
    return {text, places};
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 3) {
        std::fputs("usage: morvane-reference TEMPLATE OUTPUT | --check|--write FILE.md\n", stderr);
        return 2;
    }
    const bool page = arguments[1] == u"--check" || arguments[1] == u"--write";
    QFile in(page ? arguments[2] : arguments[1]);
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(in.fileName()), qPrintable(in.errorString()));
        return 1;
    }
    const QString text = QString::fromUtf8(in.readAll());
    in.close();
    const auto [filled, places] = filledIn(text, page);
    if (arguments[1] == u"--check") {
        if (filled == text && places > 0)
            return 0;
        std::fprintf(stderr,
                     "%s: its option tables, between <!-- @RELAY_TABLE@ --> and <!-- end of "
                     "@RELAY_TABLE@ -->, differ from the programs' "
                     "(cmake --build BUILD --target reference-tables writes them anew)\n",
                     qPrintable(in.fileName()));
        return 1;
    }
    QFile out(arguments[2]);
    if (!out.open(QIODevice::WriteOnly) || out.write(filled.toUtf8()) < 0) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(out.fileName()), qPrintable(out.errorString()));
        return 1;
    }
    return 0;
}
