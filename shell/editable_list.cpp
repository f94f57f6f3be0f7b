#include "shell/editable_list.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QScopedValueRollback>

namespace Kv402 {

// Marks the time in which the text field finishes an edit, during which QComboBox may activate
// the entry that matches the typed text.
class FinishingLineEdit : public QLineEdit
{
public:
    explicit FinishingLineEdit(EditableList *list)
        : QLineEdit(list)
        , m_list(list)
    {}

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        const bool finishes = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        const QScopedValueRollback finishing(m_list->m_finishingEdit, finishes);
        QLineEdit::keyPressEvent(event);
    }

    void focusOutEvent(QFocusEvent *event) override
    {
        const QScopedValueRollback finishing(m_list->m_finishingEdit, true);
        QLineEdit::focusOutEvent(event);
    }

private:
    EditableList *m_list;
};

EditableList::EditableList(QWidget *parent)
    : QComboBox(parent)
{
    setEditable(true);
    setLineEdit(new FinishingLineEdit(this));
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (!m_finishingEdit)
            Q_EMIT picked(index);
    });
}

} // namespace Kv402
