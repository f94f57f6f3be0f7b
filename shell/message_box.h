#pragma once

#include "load/load_prompts.h"

#include <QList>
#include <QPointer>
#include <QString>

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

// Every message box of the program goes through this, so that tests can script the answers.
class MessageBoxes
{
public:
    virtual ~MessageBoxes() = default;

    // Shows the message modally and returns the user's answer. Closing the box without a button
    // answers Cancel or No where the box has one, else OK.
    virtual MessageAnswer show(QWidget *parent, const Message &message) = 0;
    // The newest message on screen is no longer wanted: it closes as its Escape key would close
    // it, and its show() returns.
    virtual void withdraw() = 0;
};

// The real message boxes. A key that the keyboard repeats because it is held down answers none
// of them: holding Enter down answers one message, not the questions after it.
class QtMessageBoxes : public MessageBoxes
{
public:
    MessageAnswer show(QWidget *parent, const Message &message) override;
    void withdraw() override;

private:
    // The boxes on screen, newest last.
    QList<QPointer<QMessageBox>> m_open;
};

} // namespace Kv402
