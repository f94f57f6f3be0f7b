#pragma once

#include "shell/message_box.h"

#include <QList>
#include <QQueue>

#include <functional>
#include <utility>

namespace Kv402::Test {

// Message boxes for tests: each shown message is recorded, and answered from a script, at once
// unless answerLater holds the answer back. A message that finds no scripted answer gets its
// default button, and is counted as unexpected.
class ScriptedMessages : public MessageBoxes
{
public:
    void open(QWidget *parent, const Message &message, Answered answered) override
    {
        Q_UNUSED(parent)
        Q_ASSERT(!isOpen());
        shown.append(message);
        m_open = std::move(answered);
        if (onShow)
            onShow(message);
        // Withdrawn meanwhile, it has had its answer.
        if (isOpen() && !answerLater)
            answerOpen();
    }

    // Closes the open message as Escape would.
    void withdraw() override
    {
        ++withdrawn;
        if (const Answered answered = std::exchange(m_open, {}))
            answered(escapeAnswer(shown.last().buttons));
    }

    // Gives the open message the next scripted answer.
    void answerOpen()
    {
        Q_ASSERT(isOpen());
        const Answered answered = std::exchange(m_open, {});
        if (answers.isEmpty()) {
            ++unscripted;
            answered(shown.last().defaultAnswer);
        } else {
            answered(answers.dequeue());
        }
    }

    // A message is on screen, waiting for its answer.
    bool isOpen() const { return bool(m_open); }

    QStringList texts() const
    {
        QStringList result;
        for (const Message &message : shown)
            result.append(message.text);
        return result;
    }

    QList<Message> shown;
    QQueue<MessageAnswer> answers;
    int unscripted = 0;
    int withdrawn = 0;
    // Runs while the message is up, as the user could act then.
    std::function<void(const Message &)> onShow;
    // The messages stay open until answerOpen().
    bool answerLater = false;

private:
    Answered m_open;
};

} // namespace Kv402::Test
