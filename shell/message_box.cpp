#include "shell/message_box.h"

#include "shell/texts.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMessageBox>

namespace Kv402 {

namespace {

QMessageBox::StandardButton standardButton(MessageAnswer answer)
{
    switch (answer) {
    case MessageAnswer::Ok:
        return QMessageBox::Ok;
    case MessageAnswer::Cancel:
        return QMessageBox::Cancel;
    case MessageAnswer::Yes:
        return QMessageBox::Yes;
    case MessageAnswer::No:
        return QMessageBox::No;
    }
    return QMessageBox::Ok;
}

MessageAnswer answerOf(int result, MessageButtons buttons)
{
    switch (result) {
    case QMessageBox::Ok:
        return MessageAnswer::Ok;
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    case QMessageBox::Cancel:
        return MessageAnswer::Cancel;
    default:
        return escapeAnswer(buttons);
    }
}

// While a message box is on screen, key presses that the keyboard repeats by itself (a key held
// down) reach none of its buttons: holding Enter down answers one message, not the next ones
// too. Only a key pressed anew answers. It goes with its box.
class AutoRepeatGuard : public QObject
{
public:
    explicit AutoRepeatGuard(QWidget *box)
        : QObject(box)
        , m_box(box)
    {
        QCoreApplication::instance()->installEventFilter(this);
    }

    ~AutoRepeatGuard() override { QCoreApplication::instance()->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
            break;
        default:
            return false;
        }
        if (!static_cast<QKeyEvent *>(event)->isAutoRepeat())
            return false;
        const auto widget = qobject_cast<QWidget *>(watched);
        if (!widget || (widget != m_box && !m_box->isAncestorOf(widget)))
            return false;
        // Accepted: a shortcut override keeps the key from the buttons' shortcuts too.
        event->accept();
        return true;
    }

private:
    QWidget *m_box;
};

} // namespace

MessageAnswer escapeAnswer(MessageButtons buttons)
{
    switch (buttons) {
    case MessageButtons::Ok:
        return MessageAnswer::Ok;
    case MessageButtons::OkCancel:
        return MessageAnswer::Cancel;
    case MessageButtons::YesNo:
        return MessageAnswer::No;
    }
    return MessageAnswer::Ok;
}

void QtMessageBoxes::open(QWidget *parent, const Message &message, Answered answered)
{
    auto box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(Texts::programTitle());
    box->setText(message.text);
    box->setTextFormat(Qt::PlainText);
    switch (message.icon) {
    case MessageIcon::None:
        box->setIcon(QMessageBox::NoIcon);
        break;
    case MessageIcon::Information:
        box->setIcon(QMessageBox::Information);
        break;
    case MessageIcon::Critical:
        box->setIcon(QMessageBox::Critical);
        break;
    }
    switch (message.buttons) {
    case MessageButtons::Ok:
        box->setStandardButtons(QMessageBox::Ok);
        break;
    case MessageButtons::OkCancel:
        box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case MessageButtons::YesNo:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    }
    box->setDefaultButton(standardButton(message.defaultAnswer));
    new AutoRepeatGuard(box);
    QObject::connect(box,
                     &QMessageBox::finished,
                     box,
                     [buttons = message.buttons, answered = std::move(answered)](int result) {
                         answered(answerOf(result, buttons));
                     });
    m_open = box;
    box->open();
}

void QtMessageBoxes::withdraw()
{
    if (m_open && m_open->isVisible())
        m_open->reject();
}

} // namespace Kv402
