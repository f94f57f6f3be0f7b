#pragma once

#include <QWidget>

class QFrame;
class QLabel;

namespace Kv402 {

// The small information window: the program's name and revision, the maker's details, the
// terminal picture and the maker's logo. It has no behaviour of its own; it is shown without an
// owner window and destroyed when it is closed.
class FormAbout : public QWidget
{
    Q_OBJECT

public:
    explicit FormAbout(QWidget *parent = nullptr);

    // The controls, by their names.
    QLabel *Picture2 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Label6 = nullptr;
    QFrame *Line2 = nullptr;
    QLabel *Picture1 = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool m_shownOnce = false;
};

} // namespace Kv402
