#include "facilities.h"
#include "form1.h"
#include "polltimer.h"
#include "scriptedinputbox.h"
#include "setup.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {
template <typename T> T *child(QWidget *window, const char *name)
{
    return window->findChild<T *>(QLatin1String(name));
}

// Runs the event loop as the program does; false if it had to be stopped from outside.
bool runsToItsEnd()
{
    bool stoppedFromOutside = false;
    QTimer failsafe;
    failsafe.setSingleShot(true);
    QObject::connect(&failsafe, &QTimer::timeout, qApp, [&stoppedFromOutside] {
        stoppedFromOutside = true;
        QCoreApplication::quit();
    });
    failsafe.start(10000);
    QCoreApplication::exec();
    return !stoppedFromOutside;
}

void closeAllAndDelete()
{
    QApplication::closeAllWindows();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
} // namespace

class tst_Shell : public QObject {
    Q_OBJECT

private slots:
    void init() { QApplication::setQuitOnLastWindowClosed(false); }
    void cleanup() { closeAllAndDelete(); }

    void form1Layout()
    {
        Form1 *form = showWindow<Form1>();
        QCOMPARE(form->windowTitle(), u"Morvane智能硬件服务器端"_qs);
        QCOMPARE(form->size(), QSize(433, 187));
        auto *start = child<QPushButton>(form, "Command1");
        auto *stop = child<QPushButton>(form, "Command2");
        QCOMPARE(start->text(), u"启动服务器"_qs);
        QCOMPARE(start->geometry(), QRect(88, 88, 81, 33));
        QCOMPARE(stop->text(), u"关闭服务器"_qs);
        QCOMPARE(stop->geometry(), QRect(208, 88, 81, 33));
        QCOMPARE(start->nextInFocusChain(), stop);
        QVERIFY(!form->windowIcon().isNull());
    }

    void setupLayout()
    {
        setup *window = showWindow<setup>();
        QCOMPARE(window->windowTitle(), u"设置服务器"_qs);
        QCOMPARE(window->size(), QSize(502, 201));

        struct Expected {
            const char *name;
            QString text;
            QRect pixels;
            const char *frame;
        };
        const Expected table[] = {
            {"Frame1", u"通讯方式（可以两个同时启用）"_qs, {56, 88, 393, 105}, nullptr},
            {"Command1", u"WIFI(UDP协议)"_qs, {32, 32, 161, 49}, "Frame1"},
            {"Command2", u"蓝牙(文本模式)"_qs, {208, 32, 169, 49}, "Frame1"},
            {"Frame2", u"监测设置"_qs, {56, 16, 393, 65}, nullptr},
            {"Label1", u"监测时间间隔（单位：毫秒）"_qs, {16, 24, 89, 25}, "Frame2"},
            {"Combo1", u"1"_qs, {112, 32, 233, 20}, "Frame2"},
        };
        for (const Expected &control : table) {
            auto *widget = child<QWidget>(window, control.name);
            QVERIFY2(widget, control.name);
            QCOMPARE(widget->geometry(), control.pixels);
            const QString parent = control.frame ? QLatin1String(control.frame) : u"setup"_qs;
            QCOMPARE(widget->parentWidget()->objectName(), parent);
            QString text;
            if (auto *frame = qobject_cast<QGroupBox *>(widget))
                text = frame->title();
            else if (auto *button = qobject_cast<QPushButton *>(widget))
                text = button->text();
            else if (auto *label = qobject_cast<QLabel *>(widget))
                text = label->text();
            else if (auto *combo = qobject_cast<QComboBox *>(widget))
                text = combo->currentText();
            QCOMPARE(text, control.text);
        }

        auto *combo = child<QComboBox>(window, "Combo1");
        QVERIFY(!combo->isEnabled());
        QCOMPARE(combo->count(), 0);
        auto *wifiButton = child<QPushButton>(window, "Command1");
        QCOMPARE(wifiButton->nextInFocusChain(), child<QPushButton>(window, "Command2"));
    }

    void eachWindowKindExistsOnce()
    {
        Form1 *first = showWindow<Form1>();
        first->showMinimized();
        QCOMPARE(showWindow<Form1>(), first);
        QVERIFY(!first->isMinimized());

        setup *selection = showWindow<setup>();
        QTest::mouseClick(child<QPushButton>(first, "Command1"), Qt::LeftButton);
        QCOMPARE(showWindow<setup>(), selection);
        int setups = 0;
        for (QWidget *widget : QApplication::topLevelWidgets())
            setups += qobject_cast<setup *>(widget) != nullptr;
        QCOMPARE(setups, 1);
    }

    void closeThenShowStartsAfresh()
    {
        QPointer<setup> first = showWindow<setup>();
        QVERIFY(first->testAttribute(Qt::WA_DeleteOnClose));
        first->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(first.isNull());
        QVERIFY(showWindow<setup>() != nullptr);
    }

    void closingFormLeavesTheOthersOpen()
    {
        QPointer<Form1> form = showWindow<Form1>();
        QPointer<setup> selection = showWindow<setup>();
        form->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(form.isNull());
        QVERIFY(selection && selection->isVisible());
    }

    void lastWindowClosedEndsTheProgramWhileATimerRuns()
    {
        QApplication::setQuitOnLastWindowClosed(true);
        Form1 *form = showWindow<Form1>();
        (new PollTimer(form))->start();
        QTimer::singleShot(0, form, &QWidget::close);
        QVERIFY(runsToItsEnd());
    }

    void closeServerEndsEverything()
    {
        QPointer<Form1> form = showWindow<Form1>();
        QPointer<setup> selection = showWindow<setup>();
        (new PollTimer(selection))->start();
        QTimer::singleShot(0, child<QPushButton>(form, "Command2"), &QPushButton::click);
        QVERIFY(runsToItsEnd());
        QVERIFY(form.isNull());
        QVERIFY(selection.isNull());
    }

    void inputBoxCanBeReplaced()
    {
        {
            ScriptedInputBox box({u"8888"_qs});
            QCOMPARE(inputBox(nullptr, u"端口"_qs), u"8888"_qs);
            QCOMPARE(box.prompts, QStringList{u"端口"_qs});
        }
    }

    // The real input box: title, empty field, Chinese buttons, application-modal; Cancel gives
    // the empty text, OK the typed text, and timers keep ticking while it is open.
    void inputBoxAsShown()
    {
        int ticks = 0;
        QTimer ticker;
        ticker.setInterval(1);
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start();

        auto answer = [&](bool accept) {
            QTimer::singleShot(50, this, [accept] {
                auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                QCOMPARE(dialog->windowTitle(), u"Morvane"_qs);
                QCOMPARE(dialog->windowModality(), Qt::ApplicationModal);
                auto *edit = dialog->findChild<QLineEdit *>();
                QVERIFY(edit && edit->text().isEmpty());
                QStringList buttons;
                for (auto *button : dialog->findChildren<QPushButton *>())
                    buttons << button->text();
                QVERIFY(buttons.contains(u"确定"_qs) && buttons.contains(u"取消"_qs));
                QTest::keyClicks(edit, u"8888"_qs);
                accept ? dialog->accept() : dialog->reject();
            });
            return inputBox(nullptr, u"输入通讯端口（整数,最好大于1000"_qs);
        };
        QCOMPARE(answer(true), u"8888"_qs);
        QCOMPARE(answer(false), QString());
        QVERIFY(ticks > 0);
    }
};

QTEST_MAIN(tst_Shell)
#include "tst_shell.moc"
