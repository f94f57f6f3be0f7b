// The real message boxes: opened without a modal loop, answered once, closed as Escape would when
// withdrawn; a key held down answers one message, not the ones after it.

#include "shell/message_box.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <functional>
#include <optional>

using namespace Kv402;

namespace {

// A key as the keyboard gives it: pressed anew, or repeated because it is held down.
enum class Press { Fresh, Repeated };

// The box on screen, once it is there.
QMessageBox *shownBox()
{
    return qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
}

// Presses and releases the key on the widget with the focus in the box, as the keyboard does.
void key(QMessageBox *box, Qt::Key code, Press press, const QString &text = {})
{
    QWidget *target = box->focusWidget() ? box->focusWidget() : box;
    const bool repeated = press == Press::Repeated;
    QTest::simulateEvent(target, true, code, Qt::NoModifier, text, repeated);
    if (QPointer<QMessageBox> still(box); still) {
        QTest::simulateEvent(target, false, code, Qt::NoModifier, text, repeated);
    }
}

// Runs the user's part once the next message box is on screen.
void whenShown(const std::function<void(QMessageBox *)> &user)
{
    auto poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, user] {
        QMessageBox *box = shownBox();
        if (!box || !box->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        user(box);
    });
    poll->start(10);
}

// Opens the message and waits for its answer.
MessageAnswer answerTo(QtMessageBoxes &boxes, QWidget *parent, const Message &message)
{
    std::optional<MessageAnswer> given;
    boxes.open(parent, message, [&](MessageAnswer answer) { given = answer; });
    [&] { QTRY_VERIFY_WITH_TIMEOUT(given.has_value(), 10000); }();
    return given.value_or(MessageAnswer::Ok);
}

} // namespace

class MessageBoxTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void withdrawnAnswersAsEscape_data();
    void withdrawnAnswersAsEscape();
    void repeatedKeysAnswerNothing_data();
    void repeatedKeysAnswerNothing();
    void heldEnterAnswersOneMessageOnly();
};

void MessageBoxTest::repeatedKeysAnswerNothing_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<MessageAnswer>("answer");
    QTest::newRow("Enter") << int(Qt::Key_Return) << "\r" << MessageAnswer::Yes;
    QTest::newRow("Enter on the keypad") << int(Qt::Key_Enter) << "\r" << MessageAnswer::Yes;
    QTest::newRow("Escape") << int(Qt::Key_Escape) << "\x1b" << MessageAnswer::No;
    QTest::newRow("Space") << int(Qt::Key_Space) << " " << MessageAnswer::Yes;
    QTest::newRow("N, the No button's letter") << int(Qt::Key_N) << "n" << MessageAnswer::No;
}

void MessageBoxTest::withdrawnAnswersAsEscape_data()
{
    QTest::addColumn<MessageButtons>("buttons");
    QTest::addColumn<MessageAnswer>("escape");
    QTest::newRow("OK") << MessageButtons::Ok << MessageAnswer::Ok;
    QTest::newRow("OK, Cancel") << MessageButtons::OkCancel << MessageAnswer::Cancel;
    QTest::newRow("Yes, No (Yes the default)") << MessageButtons::YesNo << MessageAnswer::No;
}

// open() returns with the box on screen, modal over its window; withdrawn, the box goes and
// answers once, as its Escape key would, whatever Enter would press.
void MessageBoxTest::withdrawnAnswersAsEscape()
{
    QFETCH(MessageButtons, buttons);
    QFETCH(MessageAnswer, escape);

    QtMessageBoxes boxes;
    QWidget parent;
    parent.show();
    QList<MessageAnswer> given;
    boxes.open(&parent,
               {"Cable not connected! Reconnect and click OK!",
                buttons,
                MessageIcon::None,
                buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok},
               [&](MessageAnswer answer) { given.append(answer); });
    QMessageBox *box = shownBox();
    QVERIFY(box);
    QVERIFY(box->isVisible());
    QVERIFY(box->isModal());
    QVERIFY(given.isEmpty());

    const QPointer<QMessageBox> gone(box);
    boxes.withdraw();
    QCOMPARE(given, QList<MessageAnswer>{escape});
    QVERIFY(!shownBox());
    QTRY_VERIFY(gone.isNull());
    // Nothing is open any more: withdrawing again answers nothing.
    boxes.withdraw();
    QCOMPARE(given.size(), 1);
}

// Repeated presses of a key leave the message on screen; the same key pressed anew answers it.
void MessageBoxTest::repeatedKeysAnswerNothing()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(MessageAnswer, answer);

    QtMessageBoxes boxes;
    QWidget parent;
    parent.show();
    bool stayed = false;
    whenShown([&](QMessageBox *box) {
        for (int i = 0; i < 5; ++i)
            key(box, Qt::Key(code), Press::Repeated, text);
        QTest::qWait(50);
        stayed = shownBox() == box && box->isVisible();
        key(box, Qt::Key(code), Press::Fresh, text);
    });
    const MessageAnswer given = answerTo(boxes,
                                         &parent,
                                         {"Repeat an other chargment with the same file?",
                                          MessageButtons::YesNo,
                                          MessageIcon::None,
                                          MessageAnswer::Yes});
    QVERIFY2(stayed, "a repeated key answered the message");
    QCOMPARE(given, answer);
}

// Enter held down: its first press answers the success message; the repeats that follow do not
// answer the repeat question with its default Yes.
void MessageBoxTest::heldEnterAnswersOneMessageOnly()
{
    QtMessageBoxes boxes;
    QWidget parent;
    parent.show();

    whenShown([](QMessageBox *box) { key(box, Qt::Key_Return, Press::Fresh, "\r"); });
    QCOMPARE(answerTo(boxes, &parent, {"Chargment successfully completed!"}), MessageAnswer::Ok);

    bool stayed = false;
    whenShown([&](QMessageBox *box) {
        for (int i = 0; i < 10; ++i)
            key(box, Qt::Key_Return, Press::Repeated, "\r");
        QTest::qWait(50);
        stayed = shownBox() == box && box->isVisible();
        // The technician reads the question and answers it.
        box->button(QMessageBox::No)->click();
    });
    const MessageAnswer answer = answerTo(boxes,
                                          &parent,
                                          {"Repeat an other chargment with the same file?",
                                           MessageButtons::YesNo,
                                           MessageIcon::None,
                                           MessageAnswer::Yes});
    QVERIFY2(stayed, "the held Enter answered the repeat question");
    QCOMPARE(answer, MessageAnswer::No);
}

QTEST_MAIN(MessageBoxTest)
#include "tst_message_box.moc"
