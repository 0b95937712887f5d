#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <optional>

// The state each appliance was last switched to, kept for publishing again on every connect.
class ApplianceStates {
public:
    struct State {
        QString appliance; // the device word, as in the command
        QString word;      // 启动 or 关闭
    };

    // Keeps the state a command gives its appliance, and returns it; nothing for a text that is
    // no command.
    std::optional<State> keep(const QString &command);
    QList<State> all() const;

private:
    QMap<QString, QString> m_words;
};
