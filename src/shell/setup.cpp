#include "setup.h"

#include "blue.h"
#include "facilities.h"
#include "wifi.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace Geometry {
constexpr TwipsSize ClientArea{7530, 3015};
constexpr TwipsRect Frame1{840, 1320, 5895, 1575};
constexpr TwipsRect Command1{480, 480, 2415, 735};
constexpr TwipsRect Command2{3120, 480, 2535, 735};
constexpr TwipsRect Frame2{840, 240, 5895, 975};
constexpr TwipsRect Label1{240, 360, 1335, 375};
constexpr TwipsRect Combo1{1680, 480, 3495, 300};
} // namespace Geometry

setup::setup(QWidget *parent)
    : QWidget(parent)
    , Frame1(new QGroupBox(QStringLiteral("通讯方式（可以两个同时启用）"), this))
    , Command1(new QPushButton(QStringLiteral("WIFI(UDP协议)"), Frame1))
    , Command2(new QPushButton(QStringLiteral("蓝牙(文本模式)"), Frame1))
    , Frame2(new QGroupBox(QStringLiteral("监测设置"), this))
    , Label1(new QLabel(QStringLiteral("监测时间间隔（单位：毫秒）"), Frame2))
    , Combo1(new QComboBox(Frame2))
{
    setObjectName(QStringLiteral("setup"));
    setWindowTitle(QStringLiteral("设置服务器"));
    setWindowIcon(Icons::setup());
    resize(Geometry::ClientArea.pixels());
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(Geometry::Frame1.pixels());
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(Geometry::Command1.pixels());
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(Geometry::Command2.pixels());
    Frame2->setObjectName(QStringLiteral("Frame2"));
    Frame2->setGeometry(Geometry::Frame2.pixels());
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(Geometry::Label1.pixels());
    Label1->setWordWrap(true);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setGeometry(Geometry::Combo1.pixels());

    // The monitoring interval is fixed at 1 ms: the box only shows it.
    Combo1->setEditable(true);
    Combo1->setEditText(QStringLiteral("1"));
    Combo1->setEnabled(false);
    setTabOrder(Command1, Command2);
    Frame1->setAccessibleName(Frame1->title());
    Command1->setAccessibleName(Command1->text());
    Command2->setAccessibleName(Command2->text());
    Frame2->setAccessibleName(Frame2->title());
    Label1->setAccessibleName(Label1->text());
    // The box has no caption of its own: the label beside it says what it shows.
    Label1->setBuddy(Combo1);
    Combo1->setAccessibleName(Label1->text());

    connect(Command1, &QPushButton::clicked, this, [] { showWindow<wifi>(); });
    connect(Command2, &QPushButton::clicked, this, [] { showWindow<blue>(); });
}
