#pragma once

#include "facilities.h"

#include <QStringList>

// Answers the input boxes from a script while it lives, noting every prompt shown; Cancel's empty
// reply once the script runs out.
class ScriptedInputBox {
public:
    explicit ScriptedInputBox(QStringList answers)
        : m_answers(std::move(answers))
        , m_previous(replaceInputBox([this](QWidget *, const QString &prompt) {
            prompts.append(prompt);
            return m_answers.isEmpty() ? QString() : m_answers.takeFirst();
        }))
    {
    }
    ~ScriptedInputBox() { replaceInputBox(m_previous); }
    ScriptedInputBox(const ScriptedInputBox &) = delete;
    ScriptedInputBox &operator=(const ScriptedInputBox &) = delete;

    QStringList prompts;

private:
    QStringList m_answers;
    InputBoxFunction m_previous;
};
