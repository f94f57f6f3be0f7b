#pragma once

#include "load/load_prompts.h"

#include <QPointer>
#include <QString>

#include <functional>

class QMessageBox;
class QWidget;

namespace Kv402 {

enum class MessageIcon { None, Information, Critical };

// One modal message of the program. Every message box is captioned with the program title.
struct Message
{
    QString text;
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
    // The button that Enter presses: the first one unless a question asks otherwise.
    MessageAnswer defaultAnswer = MessageAnswer::Ok;

    friend bool operator==(const Message &, const Message &) = default;
};

// What a box closed without a button answers, as its Escape key closes it: Cancel or No where it
// has one, else OK.
MessageAnswer escapeAnswer(MessageButtons buttons);

// Every message box of the program goes through this, so that tests can script the answers. One
// box is open at a time (MessageQueue sees to it).
class MessageBoxes
{
public:
    using Answered = std::function<void(MessageAnswer)>;

    virtual ~MessageBoxes() = default;

    // Opens the message, modal over parent, and calls answered once with the user's answer: later,
    // from the event loop, or at once from inside this call. Closing the box without a button
    // answers as Escape would.
    virtual void open(QWidget *parent, const Message &message, Answered answered) = 0;
    // The open message is no longer wanted: it closes as its Escape key would, which answers it.
    virtual void withdraw() = 0;
};

// The real message boxes, opened without a modal loop of their own. A key that the keyboard
// repeats because it is held down answers none of them: holding Enter down answers one message,
// not the questions after it.
class QtMessageBoxes : public MessageBoxes
{
public:
    void open(QWidget *parent, const Message &message, Answered answered) override;
    void withdraw() override;

private:
    QPointer<QMessageBox> m_open;
};

} // namespace Kv402
