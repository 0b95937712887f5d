#include "blue.h"

#include "facilities.h"
#include "polltimer.h"

#include <QLabel>
#include <QSerialPort>
#include <QShowEvent>

namespace Table {
constexpr TwipsSize ClientArea{4560, 3015};
constexpr ControlRow Label1{"Label1", {1080, 1320, 1815, 495}};
} // namespace Table

blue::blue(const QString &directory, const QStringList &devices, QWidget *parent)
    : PrintWindow(parent)
    , Label1(new QLabel(QStringLiteral("服务器已经启动！"), this))
    , Timer1(new PollTimer(this))
    , MSComm1(new QSerialPort(this))
    , m_transport(MSComm1, devices)
    , m_poller(directory, m_transport, Timer1)
{
    setObjectName(QStringLiteral("blue"));
    setWindowTitle(QStringLiteral("蓝牙模式"));
    setWindowIcon(Icons::mode());
    resize(Table::ClientArea.pixels());
    place(Label1, Table::Label1, Label1->text());
    // The label hides whatever is printed beneath it rather than mixing with it.
    Label1->setAutoFillBackground(true);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    MSComm1->setObjectName(QStringLiteral("MSComm1"));
    connect(&m_poller, &Poller::polled, this, &blue::polled);
}

// Polling starts when the program shows the window; the window system showing it again after it
// was minimised changes nothing.
void blue::showEvent(QShowEvent *event)
{
    if (!event->spontaneous() && !Timer1->isActive())
        Timer1->start();
    PrintWindow::showEvent(event);
}

void blue::polled(const PollEvent &event)
{
    reportPoll(event, *this, QStringLiteral("发送成功"));
}

void blue::report(const QString &line)
{
    print(line);
}
