#include "shell/message_queue.h"

#include <algorithm>
#include <utility>

namespace Kv402 {

MessageQueue::MessageQueue(MessageBoxes &boxes, QWidget *parent)
    : m_boxes(boxes)
    , m_parent(parent)
{}

void MessageQueue::post(const Message &message, Answered answered, const void *asker)
{
    m_waiting.append({message, std::move(answered), asker});
    showNext();
}

bool MessageQueue::holds(const void *asker) const
{
    if (m_shown && m_shown->asker == asker)
        return true;
    return std::any_of(m_waiting.cbegin(), m_waiting.cend(), [asker](const Entry &entry) {
        return entry.asker == asker;
    });
}

void MessageQueue::withdraw(const void *asker)
{
    // Those waiting go first: closing the one on screen brings up the next.
    m_waiting.removeIf([asker](const Entry &entry) { return entry.asker == asker; });
    if (m_shown && m_shown->asker == asker)
        withdrawShown();
}

void MessageQueue::withdrawAll()
{
    while (!isEmpty()) {
        const QList<Entry> waiting = std::exchange(m_waiting, {});
        if (m_shown)
            withdrawShown();
        for (const Entry &entry : waiting) {
            if (entry.answered)
                entry.answered(escapeAnswer(entry.message.buttons));
        }
    }
}

void MessageQueue::showNext()
{
    if (m_shown || m_waiting.isEmpty())
        return;
    m_shown = m_waiting.takeFirst();
    const quint64 turn = ++m_turn;
    // The answer may come from inside open(): by then m_shown has been set.
    m_boxes.open(m_parent, m_shown->message, [this, turn](MessageAnswer given) {
        answer(turn, given);
    });
}

void MessageQueue::answer(quint64 turn, MessageAnswer answer)
{
    if (!m_shown || turn != m_turn)
        return;
    const Answered answered = std::move(m_shown->answered);
    m_shown.reset();
    if (answered)
        answered(answer);
    showNext();
}

void MessageQueue::withdrawShown()
{
    const quint64 turn = m_turn;
    const MessageButtons buttons = m_shown->message.buttons;
    m_boxes.withdraw();
    answer(turn, escapeAnswer(buttons));
}

} // namespace Kv402
