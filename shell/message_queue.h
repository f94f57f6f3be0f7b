#pragma once

#include "shell/message_box.h"

#include <QList>

#include <optional>

class QWidget;

namespace Kv402 {

// A window's messages, on screen one at a time in the order they were posted: a message posted
// while another waits for its answer waits its turn. Nobody waits inside an answer, so whoever
// posts a message goes on at once and hears the answer later.
class MessageQueue
{
public:
    using Answered = MessageBoxes::Answered;

    MessageQueue(MessageBoxes &boxes, QWidget *parent);

    // Shows the message after those posted before it. answered, when given, hears its answer;
    // asker names whoever may take it back (nullptr: nobody).
    void post(const Message &message, Answered answered = {}, const void *asker = nullptr);
    // The asker's messages are no longer wanted: those waiting leave the queue unanswered, the one
    // on screen closes as its Escape key would.
    void withdraw(const void *asker);
    // Nobody is there to answer: every message, on screen or waiting, is answered as its Escape
    // key would answer it, and so is every message that those answers post.
    void withdrawAll();

    // No message is on screen or waiting.
    bool isEmpty() const { return !m_shown && m_waiting.isEmpty(); }
    // A message of this asker is on screen or waiting.
    bool holds(const void *asker) const;

private:
    struct Entry
    {
        Message message;
        Answered answered;
        const void *asker = nullptr;
    };

    void showNext();
    void answer(quint64 turn, MessageAnswer answer);
    // Closes the message on screen as Escape would; a box that did not answer is answered so.
    void withdrawShown();

    MessageBoxes &m_boxes;
    QWidget *m_parent;
    QList<Entry> m_waiting;
    std::optional<Entry> m_shown;
    // Counts the messages shown, so that an answer goes to its own message only.
    quint64 m_turn = 0;
};

} // namespace Kv402
