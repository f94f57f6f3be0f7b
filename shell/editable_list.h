#pragma once

#include <QComboBox>

namespace Kv402 {

// A drop-down list with a text field, in which typed text stays text: only an entry picked by the
// user raises picked(). (QComboBox also activates an entry whose text was typed, when the field
// loses the focus or Enter is pressed.)
class EditableList : public QComboBox
{
    Q_OBJECT

public:
    explicit EditableList(QWidget *parent = nullptr);

Q_SIGNALS:
    void picked(int index);

private:
    friend class FinishingLineEdit;
    bool m_finishingEdit = false;
};

} // namespace Kv402
