#pragma once

#include <QIcon>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>
#include <functional>
#include <utility>

// Window positions and sizes are given in twips, 15 to a pixel at 96 dpi; Qt's high-DPI scaling
// takes care of other screens.
constexpr int twips(int value)
{
    return value / 15;
}

struct TwipsRect {
    int left, top, width, height;
    constexpr QRect pixels() const
    {
        return QRect(twips(left), twips(top), twips(width), twips(height));
    }
};

struct TwipsSize {
    int width, height;
    constexpr QSize pixels() const { return QSize(twips(width), twips(height)); }
};

// One row of a window's control table: the control's name and where it sits.
struct ControlRow {
    const char *name;
    TwipsRect rect;
};

// Gives a control the name of its row, puts it where the row says, and gives it the name a screen
// reader announces (its caption, as a rule).
void place(QWidget *control, const ControlRow &row, const QString &accessibleName);

namespace Icons {
QIcon application();
QIcon setup();
QIcon mode();
} // namespace Icons

// Shows the one window of its kind: creates it on first use, or brings the open one to the front.
// Closing a window destroys it with all it owns, so the next show starts afresh.
template <typename Window, typename... Args> Window *showWindow(Args &&...args)
{
    static QPointer<Window> instance;
    if (!instance) {
        instance = new Window(std::forward<Args>(args)...);
        instance->setAttribute(Qt::WA_DeleteOnClose);
        instance->show();
    } else {
        instance->setWindowState(instance->windowState() & ~Qt::WindowMinimized);
        instance->show();
        instance->raise();
        instance->activateWindow();
    }
    return instance;
}

// Closes every window at once, with its timers, sockets and ports, and ends the program.
void endProgram();

// The application-modal input box, titled "Morvane", with an empty edit field, OK and Cancel.
// Returns the typed text, or the empty text for Cancel and the close box. Timers keep ticking.
QString inputBox(QWidget *parent, const QString &prompt);

// Tests answer the input box themselves instead of leaving it to a person.
using InputBoxFunction = std::function<QString(QWidget *parent, const QString &prompt)>;
InputBoxFunction replaceInputBox(InputBoxFunction replacement);
