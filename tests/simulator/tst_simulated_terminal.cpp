#include "loader/link_constants.h"
#include "simulator/simulated_terminal.h"

#include <QTest>
#include <QThread>

using namespace Kv402;

namespace {

constexpr int WaitMsecs = 5000;

QByteArray block0()
{
    QByteArray block;
    for (int i = 0; i < Image::BlockSize; ++i)
        block.append(char(255 - i));
    return block;
}

// Plays the PC's side from a script of words: "header" sends the header of one block, "block"
// sends block 0, "long" sends a header with a byte too many, "readN" waits for N bytes and reads
// them, "rts1"/"rts0" answer.
void play(SimulatedPort &port, const QString &script)
{
    for (const QString &word : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (word == QLatin1String("header"))
            port.write(QByteArray("\x01\x00", 2));
        else if (word == QLatin1String("long"))
            port.write(QByteArray("\x01\x00\x00", 3));
        else if (word == QLatin1String("block"))
            port.write(block0());
        else if (word == QLatin1String("rts1"))
            port.setRts(true);
        else if (word == QLatin1String("rts0"))
            port.setRts(false);
        else if (word.startsWith(QLatin1String("read"))) {
            QVERIFY2(port.waitForAvailable(word.mid(4).toInt(), WaitMsecs), qPrintable(word));
            port.readAll();
        } else
            QFAIL(qPrintable(word));
    }
}

} // namespace

class SimulatedTerminalTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void seesProtocolViolations_data();
    void seesProtocolViolations();
    void pacedEchoComesAfterTheWholeBlock();
    void pluggingTheCableInWakesTheWait();
    void secondOpenIsRefused();
};

void SimulatedTerminalTest::seesProtocolViolations_data()
{
    QTest::addColumn<bool>("cable");
    QTest::addColumn<bool>("corruptHeader");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("violation"); // empty: none

    const QString correctRun = QStringLiteral(
        "header read2 rts1 read10 block read256 rts1 read10 rts0");
    QTest::newRow("correct run") << true << false << correctRun << "";
    QTest::newRow("rejected header sent again")
        << true << true << "header read2 rts0 read10 header read2 rts1 read10"
        << "";
    QTest::newRow("sent while CTS low") << false << false << "header"
                                        << "header sent while CTS was low";
    QTest::newRow("sent before the answer") << true << false << "header read2 header"
                                            << "bytes sent before the echo of header was answered";
    QTest::newRow("answered before reading")
        << true << false << "header rts1"
        << "the echo of header was answered before it was read";
    QTest::newRow("changed echo accepted") << true << true << "header read2 rts1"
                                           << "a changed echo of header was accepted";
    QTest::newRow("correct echo rejected") << true << false << "header read2 rts0"
                                           << "the correct echo of header was rejected";
    QTest::newRow("status reply not read") << true << false << "header read2 rts1 block"
                                           << "block 0 sent before the last status reply was read";
    QTest::newRow("more blocks than announced")
        << true << false << correctRun + QStringLiteral(" block")
        << "bytes sent after the transfer had ended";
    QTest::newRow("too many bytes") << true << false << "long"
                                    << "header: 3 bytes sent where 2 were expected";
}

void SimulatedTerminalTest::seesProtocolViolations()
{
    QFETCH(bool, cable);
    QFETCH(bool, corruptHeader);
    QFETCH(QString, script);
    QFETCH(QString, violation);

    SimulatedTerminal::Options options;
    options.cableConnected = cable;
    if (corruptHeader)
        options.corruptedEchoes = {{SimulatedTerminal::Header, 1}};
    auto terminal = std::make_shared<SimulatedTerminal>(options);
    SimulatedPort port(terminal);
    QVERIFY(port.open(1, QString(Link::LineSettings), nullptr));

    play(port, script);
    QCOMPARE(terminal->violations(), violation.isEmpty() ? QStringList() : QStringList(violation));
}

void SimulatedTerminalTest::pacedEchoComesAfterTheWholeBlock()
{
    SimulatedTerminal::Options options;
    options.paced = true;
    auto terminal = std::make_shared<SimulatedTerminal>(options);
    SimulatedPort port(terminal);
    QVERIFY(port.open(1, QString(Link::LineSettings), nullptr));
    play(port, QStringLiteral("header read2 rts1 read10"));

    port.write(block0());
    // 256 characters of 11 bits at 19200 baud take about 147 ms to leave.
    QVERIFY(port.bytesToWrite() > 0);
    QCOMPARE(port.bytesAvailable(), 0);
    QVERIFY(port.waitForWritten(WaitMsecs));
    QVERIFY(port.waitForAvailable(Image::BlockSize, WaitMsecs));
    QCOMPARE(port.readAll(), block0());
    port.setRts(true);
    QVERIFY(port.waitForAvailable(Link::StatusSize, WaitMsecs));
    QCOMPARE(port.readAll().size(), Link::StatusSize);
    QCOMPARE(terminal->flash().left(Image::BlockSize), block0());
    QCOMPARE(terminal->violations(), QStringList());
}

void SimulatedTerminalTest::pluggingTheCableInWakesTheWait()
{
    SimulatedTerminal::Options options;
    options.cableConnected = false;
    auto terminal = std::make_shared<SimulatedTerminal>(options);
    SimulatedPort port(terminal);
    QVERIFY(port.open(1, QString(Link::LineSettings), nullptr));
    QVERIFY(!port.cts());

    std::unique_ptr<QThread> technician(QThread::create([&] {
        QThread::msleep(20);
        terminal->setCableConnected(true);
    }));
    technician->start();
    const bool raised = port.waitForCts(60'000);
    technician->wait();
    QVERIFY(raised);
    QVERIFY(port.cts());
}

void SimulatedTerminalTest::secondOpenIsRefused()
{
    auto terminal = std::make_shared<SimulatedTerminal>();
    SimulatedPort first(terminal);
    SimulatedPort second(terminal);
    QVERIFY(first.open(1, QString(Link::LineSettings), nullptr));
    PortOpenFailure failure;
    QVERIFY(!second.open(1, QString(Link::LineSettings), &failure));
    QCOMPARE(failure.kind, PortOpenFailure::Kind::InUse);
    QVERIFY2(failure.reason.contains(QLatin1String("busy")), qPrintable(failure.reason));
    // Closing the port that never opened leaves the first one alone.
    second.close();
    QVERIFY(first.isOpen());
    QVERIFY(first.cts());
    first.close();
    QVERIFY(second.open(1, QString(Link::LineSettings), &failure));
}

QTEST_GUILESS_MAIN(SimulatedTerminalTest)
#include "tst_simulated_terminal.moc"
