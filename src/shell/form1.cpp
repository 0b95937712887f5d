#include "form1.h"

#include "facilities.h"
#include "setup.h"

#include <QPushButton>

namespace Geometry {
constexpr TwipsSize ClientArea{6495, 2805};
constexpr TwipsRect Command1{1320, 1320, 1215, 495};
constexpr TwipsRect Command2{3120, 1320, 1215, 495};
} // namespace Geometry

Form1::Form1(QWidget *parent)
    : QWidget(parent)
    , Command1(new QPushButton(QStringLiteral("启动服务器"), this))
    , Command2(new QPushButton(QStringLiteral("关闭服务器"), this))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Morvane智能硬件服务器端"));
    setWindowIcon(Icons::application());
    resize(Geometry::ClientArea.pixels());
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(Geometry::Command1.pixels());
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(Geometry::Command2.pixels());
    setTabOrder(Command1, Command2);
    Command1->setAccessibleName(Command1->text());
    Command2->setAccessibleName(Command2->text());

    connect(Command1, &QPushButton::clicked, this, [] { showWindow<setup>(); });
    connect(Command2, &QPushButton::clicked, this, &endProgram);
}
