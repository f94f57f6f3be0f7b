#pragma once

#include "shell/message_box.h"

#include <QList>
#include <QQueue>

#include <functional>

namespace Kv402::Test {

// Message boxes for tests: each shown message is recorded, and answered from a script. A message
// that finds no scripted answer gets its default button, and is counted as unexpected.
class ScriptedMessages : public MessageBoxes
{
public:
    MessageAnswer show(QWidget *parent, const Message &message) override
    {
        Q_UNUSED(parent)
        shown.append(message);
        if (onShow)
            onShow(message);
        if (answers.isEmpty()) {
            ++unscripted;
            return message.defaultAnswer;
        }
        return answers.dequeue();
    }

    // Closes the message as Escape would: its show() has returned already unless onShow waits.
    void withdraw() override { ++withdrawn; }

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
};

} // namespace Kv402::Test
