#include "appliancestates.h"

#include "commandsplitter.h"
#include "mqtttopics.h"

std::optional<ApplianceStates::State> ApplianceStates::keep(const QString &command)
{
    const auto parts = CommandSplitter::parts(command);
    if (!parts)
        return std::nullopt;
    State state{parts->appliance.toString(), MqttTopics::stateWord(parts->on)};
    m_words.insert(state.appliance, state.word);
    return state;
}

QList<ApplianceStates::State> ApplianceStates::all() const
{
    QList<State> states;
    for (auto word = m_words.cbegin(); word != m_words.cend(); ++word)
        states.append({word.key(), word.value()});
    return states;
}
