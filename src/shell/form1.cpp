#include "form1.h"

#include "facilities.h"
#include "setup.h"

#include <QPushButton>

// Every window keeps the form it replaces: its controls under the same names (Command1, serverlog,
// s, jiance, even where a name says little), the same captions and the same twips. A script or
// tool that drove the old program by those names finds each control where it was; names of our
// own would break it for nothing.
namespace Table {
constexpr TwipsSize ClientArea{6495, 2805};
constexpr ControlRow Command1{"Command1", {1320, 1320, 1215, 495}};
constexpr ControlRow Command2{"Command2", {3120, 1320, 1215, 495}};
} // namespace Table

Form1::Form1(QWidget *parent)
    : QWidget(parent)
    , Command1(new QPushButton(QStringLiteral("启动服务器"), this))
    , Command2(new QPushButton(QStringLiteral("关闭服务器"), this))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Morvane智能硬件服务器端"));
    setWindowIcon(Icons::application());
    resize(Table::ClientArea.pixels());
    place(Command1, Table::Command1, Command1->text());
    place(Command2, Table::Command2, Command2->text());
    setTabOrder(Command1, Command2);

    connect(Command1, &QPushButton::clicked, this, [] { showWindow<setup>(); });
    connect(Command2, &QPushButton::clicked, this, &endProgram);
}
