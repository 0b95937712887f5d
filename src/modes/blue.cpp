#include "blue.h"

#include "facilities.h"
#include "polltimer.h"

#include <QLabel>
#include <QSerialPort>

namespace Geometry {
constexpr TwipsSize ClientArea{4560, 3015};
constexpr TwipsRect Label1{1080, 1320, 1815, 495};
} // namespace Geometry

blue::blue(const QString &directory, const QStringList &devices, QWidget *parent)
    : PrintWindow(parent)
    , Label1(new QLabel(QStringLiteral("服务器已经启动！"), this))
    , Timer1(new PollTimer(this))
    , MSComm1(new QSerialPort(this))
    , m_transport(MSComm1, devices)
    , m_poller(directory, *this, m_transport, QStringLiteral("发送成功"), Timer1)
{
    setObjectName(QStringLiteral("blue"));
    setWindowTitle(QStringLiteral("蓝牙模式"));
    setWindowIcon(Icons::mode());
    resize(Geometry::ClientArea.pixels());
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(Geometry::Label1.pixels());
    // The label hides whatever is printed beneath it rather than mixing with it.
    Label1->setAutoFillBackground(true);
    Label1->setAccessibleName(Label1->text());
    Timer1->setObjectName(QStringLiteral("Timer1"));
    MSComm1->setObjectName(QStringLiteral("MSComm1"));

    Timer1->start();
}

void blue::report(const QString &line)
{
    print(line);
}
