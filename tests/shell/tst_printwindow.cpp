#include "printwindow.h"

#include <QImage>
#include <QTest>

namespace {
// The rows of `image` that hold anything other than the background, and the leftmost such column.
struct Ink {
    QList<bool> rows;
    int left = INT_MAX;
};

Ink inkOf(const QImage &image, QColor background)
{
    Ink ink;
    for (int y = 0; y < image.height(); ++y) {
        bool inked = false;
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) != background) {
                inked = true;
                ink.left = qMin(ink.left, x);
            }
        }
        ink.rows.append(inked);
    }
    return ink;
}

bool anyInk(const Ink &ink, int from, int to)
{
    return ink.rows.mid(from, to - from).contains(true);
}
} // namespace

class tst_PrintWindow : public QObject {
    Q_OBJECT

private slots:
    void linesStartTopLeftOneBelowAnother()
    {
        PrintWindow window;
        window.resize(300, 200);
        window.show();
        window.print(u"MMMM"_qs);
        window.print(u"监测"_qs);
        QCOMPARE(window.printedRows(), (QStringList{u"MMMM"_qs, u"监测"_qs}));

        const int spacing = window.fontMetrics().lineSpacing();
        const QImage image = window.grab().toImage();
        const Ink ink = inkOf(image, window.palette().color(QPalette::Window));
        QVERIFY(anyInk(ink, 0, spacing));
        QVERIFY(anyInk(ink, spacing, 2 * spacing));
        QVERIFY(!anyInk(ink, 2 * spacing, image.height()));
        QVERIFY(ink.left < 4);
    }

    void onlyRowsThatFitAreKept_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("kept");
        QTest::newRow("three full lines") << 3 << 3;
        QTest::newRow("part of a fourth") << 3 << 4;
        QTest::newRow("under one line") << 0 << 1;
    }
    // `lines` whole line spacings of height, plus a few pixels except in the first row.
    void onlyRowsThatFitAreKept()
    {
        QFETCH(int, lines);
        QFETCH(int, kept);
        PrintWindow window;
        const int spacing = window.fontMetrics().lineSpacing();
        window.resize(200, lines * spacing + (kept > lines ? 3 : 0));
        for (int line = 0; line < 5000; ++line)
            window.print(QString::number(line));
        QCOMPARE(window.printedRows().size(), kept);
        for (int row = 0; row < kept; ++row)
            QCOMPARE(window.printedRows().at(row), QString::number(row));
    }

    void restoringFromMinimisedWipesButKeepsPosition_data()
    {
        QTest::addColumn<Qt::WindowStates>("via");
        QTest::addColumn<Qt::WindowStates>("to");
        QTest::addColumn<bool>("wiped");
        QTest::newRow("minimised, restored")
            << Qt::WindowStates(Qt::WindowMinimized) << Qt::WindowStates(Qt::WindowNoState) << true;
        QTest::newRow("minimised, maximised") << Qt::WindowStates(Qt::WindowMinimized)
                                              << Qt::WindowStates(Qt::WindowMaximized) << true;
        QTest::newRow("minimised only") << Qt::WindowStates(Qt::WindowMinimized)
                                        << Qt::WindowStates(Qt::WindowMinimized) << false;
        QTest::newRow("maximised, restored") << Qt::WindowStates(Qt::WindowMaximized)
                                             << Qt::WindowStates(Qt::WindowNoState) << false;
    }
    void restoringFromMinimisedWipesButKeepsPosition()
    {
        QFETCH(Qt::WindowStates, via);
        QFETCH(Qt::WindowStates, to);
        QFETCH(bool, wiped);
        PrintWindow window;
        window.resize(300, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QStringList lines{u"一"_qs, u"二"_qs, u"三"_qs};
        for (const QString &line : lines)
            window.print(line);

        window.setWindowState(via);
        window.setWindowState(to);
        QCoreApplication::processEvents();
        QStringList shown = window.printedRows();
        shown.removeAll(QString());
        QCOMPARE(shown, wiped ? QStringList() : lines);
        if (wiped) {
            const QImage image = window.grab().toImage();
            const Ink ink = inkOf(image, window.palette().color(QPalette::Window));
            QVERIFY(!anyInk(ink, 0, image.height()));
        }

        window.print(u"四"_qs);
        QCOMPARE(window.printedRows().value(3), u"四"_qs);
    }
};

QTEST_MAIN(tst_PrintWindow)
#include "tst_printwindow.moc"
