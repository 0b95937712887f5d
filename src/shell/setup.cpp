#include "setup.h"

#include "blue.h"
#include "facilities.h"
#include "wifi.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace Table {
constexpr TwipsSize ClientArea{7530, 3015};
constexpr ControlRow Frame1{"Frame1", {840, 1320, 5895, 1575}};
constexpr ControlRow Command1{"Command1", {480, 480, 2415, 735}};
constexpr ControlRow Command2{"Command2", {3120, 480, 2535, 735}};
constexpr ControlRow Frame2{"Frame2", {840, 240, 5895, 975}};
constexpr ControlRow Label1{"Label1", {240, 360, 1335, 375}};
constexpr ControlRow Combo1{"Combo1", {1680, 480, 3495, 300}};
} // namespace Table

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
    resize(Table::ClientArea.pixels());
    place(Frame1, Table::Frame1, Frame1->title());
    place(Command1, Table::Command1, Command1->text());
    place(Command2, Table::Command2, Command2->text());
    place(Frame2, Table::Frame2, Frame2->title());
    place(Label1, Table::Label1, Label1->text());
    // The box has no caption of its own: the label beside it says what it shows.
    place(Combo1, Table::Combo1, Label1->text());
    Label1->setWordWrap(true);
    Label1->setBuddy(Combo1);

    // The monitoring interval is fixed at 1 ms: the box only shows it.
    Combo1->setEditable(true);
    Combo1->setEditText(QStringLiteral("1"));
    Combo1->setEnabled(false);
    setTabOrder(Command1, Command2);

    connect(Command1, &QPushButton::clicked, this, [] { showWindow<wifi>(); });
    connect(Command2, &QPushButton::clicked, this, [] { showWindow<blue>(); });
}
