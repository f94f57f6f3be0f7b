#include "shell/message_box.h"

#include "shell/texts.h"

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

} // namespace

MessageAnswer QtMessageBoxes::show(QWidget *parent, const Message &message)
{
    QMessageBox box(parent);
    box.setWindowTitle(Texts::programTitle());
    box.setText(message.text);
    box.setTextFormat(Qt::PlainText);
    switch (message.icon) {
    case MessageIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MessageIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MessageIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    switch (message.buttons) {
    case MessageButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MessageButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case MessageButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    }
    box.setDefaultButton(standardButton(message.defaultAnswer));

    m_open.append(&box);
    const int result = box.exec();
    m_open.removeAll(&box);
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
        break;
    }
    // Closed without a button.
    switch (message.buttons) {
    case MessageButtons::Ok:
        return MessageAnswer::Ok;
    case MessageButtons::OkCancel:
        return MessageAnswer::Cancel;
    case MessageButtons::YesNo:
        return MessageAnswer::No;
    }
    return MessageAnswer::Ok;
}

} // namespace Kv402

namespace Kv402 {

void QtMessageBoxes::withdraw()
{
    m_open.removeAll(nullptr);
    if (!m_open.isEmpty())
        m_open.takeLast()->reject();
}

} // namespace Kv402
