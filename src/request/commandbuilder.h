#pragma once

#include <QString>
#include <QStringView>
#include <array>

// Turns a request text such as 「打开空调」 into a command such as 「空调=启动」: the first device
// word of the table that occurs in the text, followed by "=启动" or "=关闭". Matching is plain
// substring search on the decoded text; the tables' order is the priority, and an off word
// outweighs an on word. Anything else gives the empty command.
class CommandBuilder {
public:
    static constexpr std::array<QStringView, 15> DeviceWords = {
        u"后背箱", u"窗户", u"音乐", u"近光灯", u"远光灯", u"电脑", u"计算机", u"电视",
        u"冰箱",   u"空调", u"灯",   u"风扇",   u"收音机", u"电台", u"广播",
    };
    static constexpr std::array<QStringView, 3> OnWords = {u"开", u"启动", u"运行"};
    static constexpr std::array<QStringView, 3> OffWords = {u"关", u"停", u"断"};

    static constexpr QStringView OnSuffix = u"=启动";
    static constexpr QStringView OffSuffix = u"=关闭";

    static QString buildCommand(QStringView request);
};
