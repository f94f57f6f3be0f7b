// The window's messages on screen one at a time, in the order they were posted, answered at once
// or later; taken back by whoever asked them, or all answered as Escape when nobody is there.

#include "scripted_messages.h"

#include "shell/message_queue.h"

#include <QMap>
#include <QTest>

using namespace Kv402;
using Kv402::Test::ScriptedMessages;

namespace {

constexpr auto Ok = MessageAnswer::Ok;
constexpr auto Cancel = MessageAnswer::Cancel;
constexpr auto Yes = MessageAnswer::Yes;
constexpr auto No = MessageAnswer::No;

const Message Reminder{"Before loading please test that the cable is connected!"};
const Message Cable{"Cable not connected! Reconnect and click OK!",
                    MessageButtons::OkCancel,
                    MessageIcon::None,
                    Ok};
const Message ExitQuestion{"A load is in progress. Stop it and exit?",
                           MessageButtons::YesNo,
                           MessageIcon::None,
                           No};
const Message Repeat{"Repeat an other chargment with the same file?",
                     MessageButtons::YesNo,
                     MessageIcon::None,
                     Yes};

// Who asked: a load, and the window.
const int Load = 1;
const int Window = 2;

// The answers that reached the messages' askers, as "text: answer".
struct Heard
{
    MessageQueue::Answered to(const Message &message)
    {
        return [this, text = message.text](MessageAnswer answer) {
            answers.append(text + ": " + QString::number(int(answer)));
        };
    }

    static QString of(const Message &message, MessageAnswer answer)
    {
        return message.text + ": " + QString::number(int(answer));
    }

    QStringList answers;
};

} // namespace

class MessageQueueTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void oneAtATimeInTheirOrder_data();
    void oneAtATimeInTheirOrder();
    void withdrawnByTheirAsker_data();
    void withdrawnByTheirAsker();
    void nobodyThereToAnswer();
};

void MessageQueueTest::oneAtATimeInTheirOrder_data()
{
    QTest::addColumn<bool>("later");
    QTest::addColumn<QList<Message>>("order");
    // Answered at once, the reminder's answer posts the repeat question before the others come.
    QTest::newRow("answered from inside open()")
        << false << QList<Message>{Reminder, Repeat, ExitQuestion, Cable};
    QTest::newRow("answered later")
        << true << QList<Message>{Reminder, ExitQuestion, Cable, Repeat};
}

// A message posted while one is open waits; one posted by an answer comes after those already
// waiting. Each answer reaches its own asker.
void MessageQueueTest::oneAtATimeInTheirOrder()
{
    QFETCH(bool, later);
    QFETCH(QList<Message>, order);

    const QMap<QString, MessageAnswer> answerTo{{Reminder.text, Ok},
                                                {ExitQuestion.text, Yes},
                                                {Cable.text, Cancel},
                                                {Repeat.text, No}};
    ScriptedMessages boxes;
    boxes.answerLater = later;
    boxes.onShow = [&](const Message &message) { boxes.answers << answerTo.value(message.text); };
    MessageQueue queue(boxes, nullptr);
    Heard heard;
    queue.post(Reminder, [&](MessageAnswer answer) {
        heard.to(Reminder)(answer);
        queue.post(Repeat, heard.to(Repeat));
    });
    queue.post(ExitQuestion, heard.to(ExitQuestion), &Window);
    queue.post(Cable, heard.to(Cable), &Load);
    if (later) {
        QCOMPARE(boxes.texts(), QStringList{Reminder.text});
        QVERIFY(queue.holds(&Load));
        while (boxes.isOpen())
            boxes.answerOpen();
    }

    QCOMPARE(boxes.shown, order);
    QStringList expected;
    for (const Message &message : std::as_const(order))
        expected.append(Heard::of(message, answerTo.value(message.text)));
    QCOMPARE(heard.answers, expected);
    QVERIFY(queue.isEmpty());
    QVERIFY(!queue.holds(&Load));
    QCOMPARE(boxes.unscripted, 0);
}

void MessageQueueTest::withdrawnByTheirAsker_data()
{
    QTest::addColumn<bool>("loadsOnScreen");
    QTest::newRow("the load's message on screen") << true;
    QTest::newRow("the load's messages waiting") << false;
}

// A stopped load takes its messages back: the one on screen closes as Escape would and the next
// comes up; those waiting go unanswered. Others' messages stay.
void MessageQueueTest::withdrawnByTheirAsker()
{
    QFETCH(bool, loadsOnScreen);

    ScriptedMessages boxes;
    boxes.answerLater = true;
    MessageQueue queue(boxes, nullptr);
    Heard heard;
    if (loadsOnScreen)
        queue.post(Cable, heard.to(Cable), &Load);
    queue.post(ExitQuestion, heard.to(ExitQuestion), &Window);
    queue.post(Repeat, heard.to(Repeat), &Load);
    QVERIFY(queue.holds(&Load));

    queue.withdraw(&Load);
    QVERIFY(!queue.holds(&Load));
    QVERIFY(queue.holds(&Window));
    QCOMPARE(boxes.texts().last(), ExitQuestion.text);
    QVERIFY(boxes.isOpen());
    QCOMPARE(boxes.withdrawn, loadsOnScreen ? 1 : 0);
    QCOMPARE(heard.answers, loadsOnScreen ? QStringList{Heard::of(Cable, Cancel)} : QStringList());

    boxes.answers << No;
    boxes.answerOpen();
    QVERIFY(queue.isEmpty());
    QVERIFY(!boxes.isOpen());
    QVERIFY(!boxes.texts().contains(Repeat.text));
    QCOMPARE(heard.answers.last(), Heard::of(ExitQuestion, No));
}

// Logging off or a shutdown signal: the message on screen and those waiting are answered as
// Escape would, and so is a message that one of those answers posts; nothing is left open.
void MessageQueueTest::nobodyThereToAnswer()
{
    ScriptedMessages boxes;
    boxes.answerLater = true;
    MessageQueue queue(boxes, nullptr);
    Heard heard;
    queue.post(Repeat, heard.to(Repeat), &Load);
    queue.post(Reminder, [&](MessageAnswer answer) {
        heard.to(Reminder)(answer);
        queue.post(Cable, heard.to(Cable));
    });
    queue.post(ExitQuestion, heard.to(ExitQuestion), &Window);

    queue.withdrawAll();
    QVERIFY(queue.isEmpty());
    QVERIFY(!boxes.isOpen());
    QCOMPARE(heard.answers,
             (QStringList{Heard::of(Repeat, No),
                          Heard::of(Reminder, Ok),
                          Heard::of(ExitQuestion, No),
                          Heard::of(Cable, Cancel)}));
    QCOMPARE(boxes.unscripted, 0);
}

QTEST_MAIN(MessageQueueTest)
#include "tst_message_queue.moc"
