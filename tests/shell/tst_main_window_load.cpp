#include "srecord_text.h"
#include "started_window.h"
#include "terminal_events.h"

#include "load/load_record.h"
#include "shell/editable_list.h"
#include "shell/main_window.h"
#include "shell/message_box.h"
#include "shell/session_end.h"
#include "simulator/simulated_terminal.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>

#include <csignal>

#include <sys/resource.h>

using namespace Kv402;
using namespace std::chrono_literals;
using Kv402::Test::ScriptedMessages;
using Kv402::Test::Workspace;

namespace {

constexpr int Block = 256;
constexpr auto Ok = MessageAnswer::Ok;
constexpr auto Cancel = MessageAnswer::Cancel;
constexpr auto Yes = MessageAnswer::Yes;
constexpr auto No = MessageAnswer::No;

const QString CheckCable = "Before loading please test that the cable is connected!";
const QString Completed = "Chargment successfully completed!";
const QString Repeat = "Repeat an other chargment with the same file?";
const QString CableMissing = "Cable not connected! Reconnect and click OK!";
const QString OutOfOrder = "The Communication Port is out of order";
const QString FlashError = "Errore su scrittura flash";
const QString WrongChecksum = "Checksum errato nel file dati";
const QString LoadStopped = "Load stopped";
const QString NoAnswer = "The terminal does not answer";

// Image data that differ from block to block and from byte to byte.
QByteArray imageData(int bytes)
{
    QByteArray data(bytes, Qt::Uninitialized);
    for (int i = 0; i < bytes; ++i)
        data[i] = char((i * 7 + i / Block) & 0xFF);
    return data;
}

// What the display showed when a message came up.
struct Shown
{
    QString text1;
    QString text2;
    int blocks;
    int blocksMaximum;
    int errors;
    int errorsMaximum;
    bool listsEnabled;
    QString sendCaption;
};

// A window started on a catalogue whose revision "1" names DATA.S28 for version 1.0 in English,
// with a simulated terminal behind COM1.
struct Loader : Test::StartedWindow
{
    // Messages are answered from the script, or by real message boxes when given.
    explicit Loader(SimulatedTerminal::Options options = {},
                    bool attachTerminal = true,
                    MessageBoxes *boxes = nullptr,
                    const QList<QStringList> &versions = {{"1.0", "English", "DATA.S28", "KV402"}})
        : Loader(
            prepare(std::make_shared<SimulatedTerminal>(options), attachTerminal, boxes, versions))
    {}

private:
    struct Prepared
    {
        std::shared_ptr<SimulatedTerminal> terminal;
        Setup setup;
    };

    static Prepared prepare(const std::shared_ptr<SimulatedTerminal> &terminal,
                            bool attachTerminal,
                            MessageBoxes *boxes,
                            const QList<QStringList> &versions)
    {
        Setup setup;
        setup.sql = Test::revisionTableSql({"1", "Version"})
                    + Test::versionTableSql("Versioni1", versions);
        if (attachTerminal)
            setup.attach = [terminal](SimulatedPorts &ports) { ports.attach(1, terminal); };
        setup.boxes = boxes;
        // Short limits, so that a silent terminal is given up in a moment.
        setup.linkLimits.silence = 300ms;
        setup.linkLimits.ctsLow = 300ms;
        return {terminal, setup};
    }

    explicit Loader(const Prepared &prepared)
        : Test::StartedWindow(prepared.setup)
        , terminal(prepared.terminal)
    {
        messages.onShow = [this](const Message &) { displays.append(display()); };
        QVERIFY(loaded);
        window->show();
    }

public:
    void writeData(const QByteArray &text) { workspace.writeFile("DATA.S28", text); }

    // Writes a data file of this many blocks, and returns its image.
    QByteArray writeBlocks(int blocks)
    {
        const QByteArray data = imageData(blocks * Block);
        writeData(Test::s2Records(0x300000, data));
        return data;
    }

    Shown display() const
    {
        return {window->Text1->text(),
                window->Text2->text(),
                window->ProgressBar_Cicli->value(),
                window->ProgressBar_Cicli->maximum(),
                window->ProgressBar_Errori->value(),
                window->ProgressBar_Errori->maximum(),
                window->Combo1->isEnabled(),
                window->Combo_Send->text()};
    }

    // Presses Send with these answers and waits for the run to end.
    void send(const QList<MessageAnswer> &answers)
    {
        for (MessageAnswer answer : answers)
            messages.answers.enqueue(answer);
        window->Combo_Send->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window->isLoading(), 20000);
        QVERIFY2(messages.answers.isEmpty(), "a scripted answer was not asked for");
        QCOMPARE(messages.unscripted, 0);
    }

    // The terminal saw a correct PC, and its port is closed again.
    void verifyPortClosedCleanly() const
    {
        QCOMPARE(terminal->violations(), QStringList());
        const QList<SimulatedTerminal::Event> events = terminal->events();
        if (!events.isEmpty())
            QCOMPARE(events.last().kind, SimulatedTerminal::Event::Kind::Closed);
    }

    int headersSent() const { return Test::headersSent(*terminal); }

    std::shared_ptr<SimulatedTerminal> terminal;
    QList<Shown> displays;
};

SimulatedTerminal::Options rejecting(int block, int times)
{
    SimulatedTerminal::Options options;
    for (int attempt = 1; attempt <= times; ++attempt)
        options.corruptedEchoes.insert({block, attempt});
    return options;
}

// Starts a load of 40 blocks at the true wire time, and waits for its first block.
void startLongLoad(Loader &loader)
{
    loader.writeBlocks(40);
    loader.messages.answers.enqueue(Ok);
    loader.window->Combo_Send->click();
    QTRY_VERIFY(loader.window->ProgressBar_Cicli->value() >= 1);
}

SimulatedTerminal::Options paced()
{
    SimulatedTerminal::Options options;
    options.paced = true;
    return options;
}

} // namespace

class LoadRunTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void sendRefusedWithoutRevision();
    void cleanRun();
    void flashWriteErrorInFourthBlock();
    void portFailureKeepsTheDisplay();
    void errorBarMovesWhileText2Waits();
    void moreRejectionsThanBlocksStayInRange();
    void cableMissing();
    void repeatLoadsTheSameFileAgain();
    void runAfterPortFailureStartsFromEmptyBars();
    void italianMessages();
    void failuresBeforeThePortOpens_data();
    void failuresBeforeThePortOpens();
    void wrongChecksums_data();
    void wrongChecksums();
    void portThatCannotBeOpened_data();
    void portThatCannotBeOpened();
    void deniedPortsAreNamed();
    void versionWithoutRowLoadsNothing_data();
    void versionWithoutRowLoadsNothing();
    void runClearsAnEarlierRunsCounters();
    void closingWhileALoadEnds_data();
    void closingWhileALoadEnds();
    void noPortSelected_data();
    void noPortSelected();
    void silentTerminal();
    void stopDuringARun();
    void closingDuringARun();
    void endOfSession_data();
    void endOfSession();
    void loadsEndedByClosingAreRecorded_data();
    void loadsEndedByClosingAreRecorded();
    void recordNamesTheRevisionOfTheTable_data();
    void recordNamesTheRevisionOfTheTable();
    void recordAtTheFileSizeLimit();
    void typedPortNameSelectsThatPort_data();
    void typedPortNameSelectsThatPort();

private:
    Test::SettingsFolder m_settings;
};

void LoadRunTest::sendRefusedWithoutRevision()
{
    Loader loader;
    const int index = loader.window->Combo1->findText("Version");
    loader.window->Combo1->setCurrentIndex(index);
    Q_EMIT loader.window->Combo1->activated(index);
    QCOMPARE(loader.window->List1->item(0)->text(), "No devices");

    const qsizetype probed = loader.terminal->events().size();
    loader.send({Ok});
    QCOMPARE(loader.messages.texts(), QStringList{"It has't been selected any element"});
    QCOMPARE(loader.terminal->events().size(), probed);

    // Typed into the revision's text field, "Version" is refused just the same.
    loader.window->Combo1->setEditText("Version");
    loader.send({Ok});
    QCOMPARE(loader.messages.texts().size(), 2);
}

void LoadRunTest::cleanRun()
{
    Loader loader;
    const QByteArray data = loader.writeBlocks(12);
    const LoadRecord record;
    const qsizetype recorded = record.read().size();
    loader.send({Ok, Ok, No});

    QCOMPARE(loader.messages.texts(), (QStringList{CheckCable, Completed, Repeat}));
    for (const Message &message : std::as_const(loader.messages.shown))
        QCOMPARE(message.icon, MessageIcon::None);
    QCOMPARE(loader.messages.shown.at(2).buttons, MessageButtons::YesNo);

    // Behind the success message: 12 of 12, no errors, full bar, the lists held still.
    const Shown done = loader.displays.at(1);
    QCOMPARE(done.text1, " 12  of   12");
    QCOMPARE(done.text2, " 0  of   12");
    QCOMPARE(done.blocks, 12);
    QCOMPARE(done.blocksMaximum, 12);
    QCOMPARE(done.errors, 0);
    QCOMPARE(done.errorsMaximum, 12);
    QVERIFY(!done.listsEnabled);
    QCOMPARE(done.sendCaption, "Stop");

    // After the repeat question: empty text boxes, bars at 0, the window idle again.
    const Shown idle = loader.display();
    QCOMPARE(idle.text1, "");
    QCOMPARE(idle.text2, "");
    QCOMPARE(idle.blocks, 0);
    QCOMPARE(idle.errors, 0);
    QVERIFY(idle.listsEnabled);
    QCOMPARE(idle.sendCaption, "Send");

    QCOMPARE(loader.terminal->flash().left(data.size()), data);
    QCOMPARE(loader.terminal->announcedBlocks(), 12);
    loader.verifyPortClosedCleanly();

    // The load is recorded with the window's choice.
    const QList<LoadRecordEntry> entries = record.read();
    QCOMPARE(entries.size(), recorded + 1);
    const LoadRecordEntry &entry = entries.last();
    QCOMPARE(entry.port, "COM1");
    QCOMPARE(entry.revision, "1");
    QCOMPARE(entry.version, "1.0");
    QCOMPARE(entry.language, "English");
    QCOMPARE(entry.outcome, "completed");
    QCOMPARE(entry.blocks, 12);
    QCOMPARE(entry.of, 12);
    QVERIFY(entry.dataFile.endsWith("/DATA.S28"));
    QCOMPARE(entry.sha256.size(), 64);
    // The program that made it, as it was started (kv402master, or its demo); no unit serial.
    QCOMPARE(entry.program, QCoreApplication::applicationName());
    QVERIFY(!entry.program.isEmpty());
    QCOMPARE(entry.unitSerial, QString());
}

void LoadRunTest::flashWriteErrorInFourthBlock()
{
    SimulatedTerminal::Options options;
    options.flashErrorAt = 3;
    Loader loader(options);
    loader.writeBlocks(12);
    loader.send({Ok, Ok, No});

    QCOMPARE(loader.messages.texts(), (QStringList{CheckCable, FlashError, Repeat}));
    QCOMPARE(loader.displays.at(1).text1, " 4  of   12");
    // The block the flash could not take moves the bar too.
    QCOMPARE(loader.displays.at(2).blocks, 4);
    QCOMPARE(loader.display().text1, "");
    QCOMPARE(loader.display().blocks, 0);

    int blocksSent = 0;
    for (const SimulatedTerminal::Event &event : loader.terminal->events()) {
        if (event.kind == SimulatedTerminal::Event::Kind::PcSent && event.bytes.size() == Block)
            ++blocksSent;
    }
    QCOMPARE(blocksSent, 4);
    loader.verifyPortClosedCleanly();
}

void LoadRunTest::portFailureKeepsTheDisplay()
{
    Loader loader(rejecting(2, 10));
    loader.writeBlocks(5);
    loader.send({Ok, Ok});

    QCOMPARE(loader.messages.texts(), (QStringList{CheckCable, OutOfOrder}));
    const Shown after = loader.display();
    QCOMPARE(after.text1, " 2  of   5");
    // Text2 still shows the errors counted before the failing block.
    QCOMPARE(after.text2, " 0  of   5");
    QCOMPARE(after.blocks, 2);
    QCOMPARE(after.errors, 5); // ten rejections, the bar stops at its end
    QVERIFY(after.listsEnabled);
    loader.verifyPortClosedCleanly();
}

void LoadRunTest::errorBarMovesWhileText2Waits()
{
    Loader loader(rejecting(1, 3));
    loader.writeBlocks(4);
    QStringList changes;
    connect(loader.window->Text2, &QLineEdit::textChanged, [&](const QString &text) {
        changes.append("Text2" + text);
    });
    connect(loader.window->ProgressBar_Errori, &QProgressBar::valueChanged, [&](int value) {
        changes.append("errors " + QString::number(value));
    });
    loader.send({Ok, Ok, No});

    QCOMPARE(changes,
             (QStringList{"Text2 0  of   4",
                          "errors 1",
                          "errors 2",
                          "errors 3",
                          "Text2 3  of   4",
                          "errors 0",
                          "Text2"}));
    QCOMPARE(loader.displays.at(1).text1, " 4  of   4");
    QCOMPARE(loader.displays.at(1).errors, 3);
    loader.verifyPortClosedCleanly();
}

void LoadRunTest::moreRejectionsThanBlocksStayInRange()
{
    Loader loader(rejecting(0, 9));
    loader.writeBlocks(2);
    loader.send({Ok, Ok, No});
    QCOMPARE(loader.messages.texts(), (QStringList{CheckCable, Completed, Repeat}));
    QCOMPARE(loader.displays.at(1).errors, 2);
    QCOMPARE(loader.displays.at(1).text2, " 9  of   2");
}

void LoadRunTest::cableMissing()
{
    SimulatedTerminal::Options options;
    options.cableConnected = false;
    Loader loader(options);
    loader.writeBlocks(3);
    loader.window->Text1->setText("kept");

    // OK reads the file again: changed meanwhile, it is read as it is now.
    int cableQuestions = 0;
    loader.messages.onShow = [&](const Message &message) {
        if (message.text == CableMissing && ++cableQuestions == 2)
            loader.terminal->setCableConnected(true);
    };
    loader.send({Ok, Ok, Ok, Ok, No});
    QCOMPARE(loader.messages.texts(),
             (QStringList{CheckCable, CableMissing, CableMissing, Completed, Repeat}));
    QCOMPARE(loader.messages.shown.at(1).buttons, MessageButtons::OkCancel);

    // Cancel: the port closed, the focus on Combo1, the display as it was.
    loader.terminal->setCableConnected(false);
    loader.messages.shown.clear();
    loader.window->Text1->setText("kept");
    loader.window->List1->setFocus();
    loader.send({Ok, Cancel});
    QCOMPARE(loader.messages.texts(), (QStringList{CheckCable, CableMissing}));
    QCOMPARE(loader.window->Text1->text(), "kept");
    QTRY_VERIFY(loader.window->Combo1->hasFocus() || loader.window->Combo1->lineEdit()->hasFocus());
    loader.verifyPortClosedCleanly();
}

void LoadRunTest::repeatLoadsTheSameFileAgain()
{
    Loader loader;
    loader.writeBlocks(2);
    loader.send({Ok, Ok, Yes, Ok, No});
    QCOMPARE(loader.messages.texts(),
             (QStringList{CheckCable, Completed, Repeat, Completed, Repeat}));
    QCOMPARE(loader.headersSent(), 2);
    loader.verifyPortClosedCleanly();
}

void LoadRunTest::runAfterPortFailureStartsFromEmptyBars()
{
    Loader loader(rejecting(3, 10));
    loader.writeBlocks(8);
    loader.send({Ok, Ok});
    QCOMPARE(loader.display().blocks, 3);

    // The next run sends a smaller file; the bars start again from 0.
    loader.writeBlocks(2);
    loader.displays.clear();
    loader.send({Ok, Ok, No});
    QCOMPARE(loader.displays.last().blocks, 2);
    QCOMPARE(loader.displays.last().blocksMaximum, 2);
    QCOMPARE(loader.displays.last().errors, 0);
}

void LoadRunTest::italianMessages()
{
    SimulatedTerminal::Options options;
    options.flashErrorAt = 0;
    Loader loader(options);
    loader.writeBlocks(2);
    loader.window->lngita->trigger();
    loader.send({Ok, Ok, No});
    QCOMPARE(loader.messages.texts(),
             (QStringList{"Prima di iniziare controllare che il cavo sia collegato correttamente!",
                          FlashError,
                          "Ripetere un caricamento con lo stesso file di dati?"}));
    QCOMPARE(loader.displays.at(1).sendCaption, "Ferma");
    QCOMPARE(loader.window->Combo_Send->text(), "Invia");
}

void LoadRunTest::failuresBeforeThePortOpens_data()
{
    QTest::addColumn<QByteArray>("data"); // the data file; null: none at all
    QTest::addColumn<QString>("expected");

    QTest::newRow("missing file") << QByteArray() << "the file does not exist";
    QTest::newRow("not a hex digit") << QByteArray("S00600004844521B\r\nS208300000010203XY45\r\n")
                                     << "line 2, column 17: not a hex digit";
    QTest::newRow("line too short") << QByteArray("S20830000001\r\n")
                                    << "line 1: the line is shorter than its record's count says";
    QTest::newRow("count below 4")
        << QByteArray("S2033000FF\n") << "line 1: the record's count is below 4";
    QTest::newRow("beyond the terminal's memory") << Test::s2Record(0x3FFFFF, "\x01\x02") + "\r\n"
                                                  << "line 1: data beyond the terminal's memory";
    QTest::newRow("no data") << QByteArray("S00600004844521B\r\nS9030000FC\r\n")
                             << "holds no data to load";
}

void LoadRunTest::failuresBeforeThePortOpens()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, expected);

    Loader loader;
    if (!data.isNull())
        loader.writeData(data);
    const qsizetype probed = loader.terminal->events().size();
    loader.send({Ok, Ok});

    QCOMPARE(loader.messages.shown.size(), 2);
    const QString text = loader.messages.shown.at(1).text;
    QVERIFY2(text.contains(expected), qPrintable(text));
    QVERIFY2(text.contains(loader.workspace.filePath("DATA.S28")), qPrintable(text));
    QCOMPARE(loader.terminal->events().size(), probed);
    QVERIFY(loader.display().listsEnabled);
}

void LoadRunTest::wrongChecksums_data()
{
    QTest::addColumn<int>("wrong");
    QTest::addColumn<MessageAnswer>("answer");
    QTest::addColumn<int>("checksumMessages");

    QTest::newRow("two, No") << 2 << No << 2;
    QTest::newRow("two, Yes") << 2 << Yes << 2;
    QTest::newRow("twelve, No: ten told") << 12 << No << 10;
}

void LoadRunTest::wrongChecksums()
{
    QFETCH(int, wrong);
    QFETCH(MessageAnswer, answer);
    QFETCH(int, checksumMessages);

    Loader loader;
    QByteArray text;
    const QByteArray data = imageData(Block);
    for (int i = 0; i < 16; ++i) {
        text += Test::s2Record(0x300000 + i * 16, data.mid(i * 16, 16), i < wrong ? 1 : 0) + "\r\n";
    }
    loader.writeData(text);
    const qsizetype probed = loader.terminal->events().size();

    QList<MessageAnswer> answers(1 + checksumMessages, Ok);
    answers.append(answer);
    if (answer == Yes)
        answers << Ok << No;
    loader.send(answers);

    QStringList expected{CheckCable};
    for (int i = 0; i < checksumMessages; ++i)
        expected.append(WrongChecksum);
    // The question names the lines of the first records, so the file's author can be told.
    QStringList lines;
    for (int line = 1; line <= std::min(wrong, 10); ++line)
        lines.append(QString::number(line));
    if (wrong > 10)
        lines.append("and more");
    expected.append(
        QString("The data file has %1 records with a wrong checksum (lines %2). Load it anyway?")
            .arg(wrong)
            .arg(lines.join(", ")));
    if (answer == Yes)
        expected << Completed << Repeat;
    QCOMPARE(loader.messages.texts(), expected);
    const Message question = loader.messages.shown.at(1 + checksumMessages);
    QCOMPARE(question.buttons, MessageButtons::YesNo);
    QCOMPARE(question.defaultAnswer, No);

    if (answer == No) {
        QCOMPARE(loader.terminal->events().size(), probed);
    } else {
        // Sent as the file has it: the records with a wrong checksum included.
        QCOMPARE(loader.terminal->flash().left(Block), data);
        loader.verifyPortClosedCleanly();
    }
}

void LoadRunTest::portThatCannotBeOpened_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("italian");
    QTest::addColumn<QString>("expected");

    QTest::newRow("held by another program")
        << "held" << false
        << "Cannot open the serial port COM1: another program is using simulated terminal "
           "(Device or resource busy)";
    QTest::newRow("held, in Italian")
        << "held" << true
        << "Impossibile aprire la porta seriale COM1: un altro programma sta usando simulated "
           "terminal (Device or resource busy)";
    // Without CTS the cable question would come back at every OK.
    QTest::newRow("no modem lines")
        << "no modem lines" << false
        << "COM1 has no RTS/CTS lines: the terminal needs a cable and adapter that carry them";
    QTest::newRow("no modem lines, in Italian")
        << "no modem lines" << true
        << "COM1 non ha le linee RTS/CTS: il terminale richiede un cavo e un adattatore che le "
           "portino";
}

void LoadRunTest::portThatCannotBeOpened()
{
    QFETCH(QString, how);
    QFETCH(bool, italian);
    QFETCH(QString, expected);

    SimulatedTerminal::Options options;
    if (how == "no modem lines")
        options.openRefused = PortOpenFailure::Kind::NoModemLines;
    Loader loader(options);
    loader.writeBlocks(1);
    // A port without modem lines is listed: Send says what it lacks.
    QCOMPARE(loader.window->Combo_SerialPort->currentText(), "COM1");
    std::unique_ptr<SerialPort> other;
    if (how == "held") {
        other = loader.ports.makePort(portAddress(1));
        QVERIFY(other->open(Link::Line, nullptr));
    }
    if (italian)
        loader.window->lngita->trigger();
    loader.send({Ok, Ok});
    QCOMPARE(loader.messages.shown.size(), 2);
    QCOMPARE(loader.messages.shown.at(1).text, expected);
    QVERIFY(loader.display().listsEnabled);
    QCOMPARE(loader.headersSent(), 0);
}

// A user outside the group dialout finds no port: the message says why, not only that none is
// selected.
void LoadRunTest::deniedPortsAreNamed()
{
    SimulatedTerminal::Options options;
    options.openRefused = PortOpenFailure::Kind::AccessDenied;
    Loader loader(options);
    loader.writeBlocks(1);
    QCOMPARE(loader.window->Combo_SerialPort->count(), 0);
    loader.send({Ok, Ok});
    QCOMPARE(loader.messages.shown.size(), 2);
    QCOMPARE(loader.messages.shown.at(1).text,
             "No serial port is selected. These ports exist, but this user may not use them: "
             "COM1 (simulated terminal). The user must be a member of the group dialout to use "
             "serial ports (sudo adduser $USER dialout, then log in again).");
}

void LoadRunTest::versionWithoutRowLoadsNothing_data()
{
    QTest::addColumn<bool>("italian");
    QTest::addColumn<QString>("expected");
    QTest::newRow("English") << false << "This version is not available in this language";
    QTest::newRow("Italian") << true << "Questa versione non è disponibile in questa lingua";
}

// 1.1 exists in English only: in Italian there is no data file, and the English one of the
// earlier choice must not go into the terminal.
void LoadRunTest::versionWithoutRowLoadsNothing()
{
    QFETCH(bool, italian);
    QFETCH(QString, expected);

    Loader loader({},
                  true,
                  nullptr,
                  {{"1.0", "Italiano", "DATA.S28", "KV402"},
                   {"1.1", "English", "DATA.S28", "KV402"}});
    loader.writeBlocks(1);
    frmMain &window = *loader.window;
    window.Combo3->setCurrentIndex(window.Combo3->findText("1.1"));
    Q_EMIT window.Combo3->activated(window.Combo3->currentIndex());
    QCOMPARE(window.Combo4->currentText(), "Italiano");
    QCOMPARE(window.List1->count(), 0);
    if (italian)
        window.lngita->trigger();

    loader.send({Ok});
    QCOMPARE(loader.messages.texts(), QStringList{expected});
    QCOMPARE(loader.headersSent(), 0);
}

// A run that ends before its header is accepted must not show the counters of the run before.
void LoadRunTest::runClearsAnEarlierRunsCounters()
{
    Loader loader(rejecting(3, 10));
    loader.writeBlocks(8);
    loader.send({Ok, Ok});
    QCOMPARE(loader.display().text1, " 3  of   8");
    QCOMPARE(loader.display().blocks, 3);

    // The terminal falls silent at once: the run ends with the display cleared.
    loader.displays.clear();
    loader.messages.onShow = [&](const Message &message) {
        loader.displays.append(loader.display());
        if (message.text == CheckCable)
            loader.ports.attach(1, std::make_shared<SimulatedTerminal>([] {
                                    SimulatedTerminal::Options silent;
                                    silent.silentFrom = SimulatedTerminal::SilentFrom{
                                        SimulatedTerminal::Header,
                                        SimulatedTerminal::Silence::NoEcho};
                                    return silent;
                                }()));
    };
    loader.send({Ok, Ok});
    QCOMPARE(loader.messages.texts().last(), NoAnswer);
    QCOMPARE(loader.displays.last().text1, "");
    QCOMPARE(loader.displays.last().text2, "");
    QCOMPARE(loader.displays.last().blocks, 0);
    QCOMPARE(loader.displays.last().errors, 0);
}

void LoadRunTest::closingWhileALoadEnds_data()
{
    QTest::addColumn<MessageAnswer>("exit");
    // The answer comes after the close that asked has returned.
    QTest::addColumn<bool>("later");
    QTest::newRow("No: the run's messages follow") << No << false;
    QTest::newRow("Yes: the program ends, no new run") << Yes << false;
    QTest::newRow("No, answered later") << No << true;
    QTest::newRow("Yes, answered later") << Yes << true;
}

// The run completes while "Stop it and exit?" is on screen: its messages wait for the answer, the
// port held as the terminal expects, and a Yes to its repeat question cannot start a load under
// the exit question.
void LoadRunTest::closingWhileALoadEnds()
{
    QFETCH(MessageAnswer, exit);
    QFETCH(bool, later);

    Loader loader(paced());
    loader.writeBlocks(3);
    loader.messages.answers.enqueue(Ok);
    loader.window->Combo_Send->click();
    QTRY_VERIFY(loader.window->ProgressBar_Cicli->value() >= 1);

    const QString question = "A load is in progress. Stop it and exit?";
    loader.messages.onShow = [&](const Message &message) {
        if (message.text != question)
            return;
        // The user reads the question while the terminal takes the last block.
        QTRY_COMPARE_WITH_TIMEOUT(loader.window->ProgressBar_Cicli->value(), 3, 10000);
        QTest::qWait(50);
        QCOMPARE(loader.messages.texts().size(), 2);
    };
    loader.messages.answers.enqueue(exit);
    // Then the success message and Yes to the repeat question: the same file again.
    if (exit == No)
        loader.messages.answers << Ok << Yes << Ok << No;
    loader.messages.answerLater = later;
    // Answered later, the close has returned unanswered: the answer closes the window or not.
    QCOMPARE(loader.window->close(), exit == Yes && !later);
    if (later) {
        QVERIFY(loader.window->isVisible());
        QVERIFY(loader.window->isLoading());
        QCOMPARE(loader.messages.texts().size(), 2);
        loader.messages.answerLater = false;
        loader.messages.answerOpen();
    }
    if (exit == Yes) {
        QVERIFY(!loader.window->isVisible());
        QCOMPARE(loader.messages.texts(), (QStringList{CheckCable, question}));
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(!loader.window->isLoading(), 20000);
        QCOMPARE(loader.messages.texts(),
                 (QStringList{CheckCable, question, Completed, Repeat, Completed, Repeat}));
        QVERIFY(loader.messages.answers.isEmpty());
    }
    QCOMPARE(loader.headersSent(), exit == Yes ? 1 : 2);
    loader.verifyPortClosedCleanly();
}

void LoadRunTest::noPortSelected_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("no port found") << "none found";
    QTest::newRow("revision without a table") << "other revision";
    QTest::newRow("text typed over the selection") << "typed";
}

void LoadRunTest::noPortSelected()
{
    QFETCH(QString, how);
    Loader loader({}, how != "none found");
    loader.writeBlocks(1);
    QComboBox *ports = loader.window->Combo_SerialPort;
    if (how == "other revision") {
        // A revision that names no table empties the port's text but keeps the ports found.
        loader.window->Combo1->addItem("6");
        const int index = loader.window->Combo1->count() - 1;
        loader.window->Combo1->setCurrentIndex(index);
        Q_EMIT loader.window->Combo1->activated(index);
        QCOMPARE(ports->count(), 1);
    } else if (how == "typed") {
        ports->setEditText("COM7");
    }
    QCOMPARE(ports->currentText() == "COM1", false);
    const qsizetype probed = loader.terminal->events().size();

    if (how == "other revision") {
        // Such a revision offers no version: there is nothing to load, whatever the port.
        loader.send({Ok});
        QCOMPARE(loader.messages.texts(), QStringList{"Version not available"});
    } else {
        loader.send({Ok, Ok});
        QCOMPARE(loader.messages.shown.size(), 2);
        QVERIFY(loader.messages.shown.at(1).text.startsWith("No serial port is selected."));
    }
    QCOMPARE(loader.terminal->events().size(), probed);
    QVERIFY(loader.display().listsEnabled);
}

void LoadRunTest::silentTerminal()
{
    SimulatedTerminal::Options options;
    options.silentFrom = SimulatedTerminal::SilentFrom{2, SimulatedTerminal::Silence::NoEcho};
    Loader loader(options);
    loader.writeBlocks(5);
    loader.send({Ok, Ok});
    QCOMPARE(loader.messages.texts(), (QStringList{CheckCable, NoAnswer}));
    // Like a port failure: the display keeps its values, no repeat question.
    QCOMPARE(loader.display().text1, " 2  of   5");
    QCOMPARE(loader.display().blocks, 2);
    loader.verifyPortClosedCleanly();
}

void LoadRunTest::stopDuringARun()
{
    Loader loader(paced());
    startLongLoad(loader);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(loader.window->Combo_Send->text(), "Stop");
    QVERIFY(!loader.window->Combo3->isEnabled());
    QVERIFY(!loader.window->Combo_SerialPort->isEnabled());

    loader.messages.answers.enqueue(Ok);
    loader.window->Combo_Send->click();
    QTRY_VERIFY(!loader.window->isLoading());
    QCOMPARE(loader.messages.texts(), (QStringList{CheckCable, LoadStopped}));
    QVERIFY(loader.display().text1.endsWith("  of   40"));
    QVERIFY(loader.display().blocks > 0);
    QCOMPARE(loader.window->Combo_Send->text(), "Send");
    QVERIFY(loader.window->Combo_Send->isEnabled());
    loader.verifyPortClosedCleanly();
}

void LoadRunTest::closingDuringARun()
{
    Loader loader(paced());
    startLongLoad(loader);
    if (QTest::currentTestFailed())
        return;

    // No: the window stays and the run goes on.
    loader.messages.answers.enqueue(No);
    QVERIFY(!loader.window->close());
    QVERIFY(loader.window->isLoading());
    const int blocks = loader.window->ProgressBar_Cicli->value();
    QTRY_VERIFY(loader.window->ProgressBar_Cicli->value() > blocks);

    loader.messages.answers.enqueue(Yes);
    QVERIFY(loader.window->close());
    QVERIFY(!loader.window->isVisible());
    const QString question = "A load is in progress. Stop it and exit?";
    QCOMPARE(loader.messages.texts(), (QStringList{CheckCable, question, question}));
    QCOMPARE(loader.messages.shown.at(1).buttons, MessageButtons::YesNo);
    loader.verifyPortClosedCleanly();

    // The shutdown ran: the window's place was saved.
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "KV402Master", "KV402Master");
    QVERIFY(settings.contains("Settings/MainLeft"));
}

void LoadRunTest::endOfSession_data()
{
    QTest::addColumn<QString>("when");
    QTest::addColumn<int>("signal");
    QTest::newRow("idle, terminated") << "idle" << SIGTERM;
    QTest::newRow("loading, terminated") << "loading" << SIGTERM;
    QTest::newRow("loading, hung up") << "loading" << SIGHUP;
    QTest::newRow("message on screen, interrupted") << "message" << SIGINT;
    QTest::newRow("\"Stop it and exit?\" on screen, terminated") << "exit question" << SIGTERM;
}

// The system shutting down ends the program through its usual shutdown, with nobody there to
// answer: a load is stopped without a question, a message on screen is answered as Escape would.
void LoadRunTest::endOfSession()
{
    QFETCH(QString, when);
    QFETCH(int, signal);
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "KV402Master", "KV402Master");
    settings.remove("Settings");
    settings.sync();

    QtMessageBoxes boxes;
    Loader loader(paced(), true, when == "message" ? &boxes : nullptr);
    SessionEnd sessionEnd(loader.window.get());
    QTimer poll;
    if (when == "loading" || when == "exit question") {
        startLongLoad(loader);
        if (QTest::currentTestFailed())
            return;
        if (when == "exit question") {
            loader.messages.answerLater = true;
            QVERIFY(!loader.window->close());
            QVERIFY(loader.messages.isOpen());
        }
    } else if (when == "message") {
        // The signal comes while the cable reminder waits for its OK.
        loader.writeBlocks(40);
        connect(&poll, &QTimer::timeout, [&] {
            if (QApplication::activeModalWidget()) {
                poll.stop();
                std::raise(signal);
            }
        });
        poll.start(10);
        loader.window->Combo_Send->click();
    }
    if (when != "message")
        std::raise(signal);

    QTRY_VERIFY_WITH_TIMEOUT(!loader.window->isVisible(), 10000);
    QVERIFY(!QApplication::activeModalWidget());
    if (when == "loading")
        QCOMPARE(loader.messages.texts(), QStringList{CheckCable});
    if (when == "exit question") {
        // Answered as its Escape key would (No), it still ends with the program.
        QCOMPARE(loader.messages.texts(),
                 (QStringList{CheckCable, "A load is in progress. Stop it and exit?"}));
        QCOMPARE(loader.messages.withdrawn, 1);
        QVERIFY(!loader.messages.isOpen());
        QVERIFY(!loader.window->isLoading());
    }
    loader.verifyPortClosedCleanly();
    settings.sync();
    QVERIFY(settings.contains("Settings/MainLeft"));
}

void LoadRunTest::loadsEndedByClosingAreRecorded_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("window closed, Yes to stop it and exit") << "closed";
    QTest::newRow("end of session (shutdown signal, logging off)") << "session";
}

// A load that the end of the program stops leaves a terminal half loaded: the record says so,
// with the blocks done, before the program ends.
void LoadRunTest::loadsEndedByClosingAreRecorded()
{
    QFETCH(QString, how);

    const LoadRecord record;
    const qsizetype recorded = record.read().size();
    Loader loader(paced());
    startLongLoad(loader);
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY(loader.window->ProgressBar_Cicli->value() >= 2);
    const int shown = loader.window->ProgressBar_Cicli->value();

    if (how == "closed") {
        loader.messages.answers.enqueue(Yes);
        QVERIFY(loader.window->close());
    } else {
        loader.window->endSession();
    }
    QVERIFY(!loader.window->isVisible());
    loader.verifyPortClosedCleanly();

    // Recorded by the time the window has gone, without the event loop running again.
    const QList<LoadRecordEntry> entries = record.read();
    QCOMPARE(entries.size(), recorded + 1);
    const LoadRecordEntry &entry = entries.last();
    QCOMPARE(entry.outcome, "stopped");
    QCOMPARE(entry.port, "COM1");
    QCOMPARE(entry.revision, "1");
    QCOMPARE(entry.of, 40);
    int blocksSent = 0;
    for (const SimulatedTerminal::Event &event : loader.terminal->events()) {
        if (event.kind == SimulatedTerminal::Event::Kind::PcSent && event.bytes.size() == Block)
            ++blocksSent;
    }
    QVERIFY2(entry.blocks >= shown && entry.blocks <= blocksSent && entry.blocks < 40,
             qPrintable(QString("%1 blocks recorded, %2 shown, %3 sent")
                            .arg(entry.blocks)
                            .arg(shown)
                            .arg(blocksSent)));
    QVERIFY(entry.ended >= entry.started);

    // Nothing is recorded twice when the window goes.
    loader.window.reset();
    QCOMPARE(record.read().size(), recorded + 1);
}

void LoadRunTest::recordNamesTheRevisionOfTheTable_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("\"9\" typed after \"1\"") << "19";
    QTest::newRow("another revision's name typed") << "2";
    QTest::newRow("text cleared") << "";
}

// Combo1 takes typed text, which chooses nothing: the data file is still the one revision 1's
// table named, and the record says revision 1.
void LoadRunTest::recordNamesTheRevisionOfTheTable()
{
    QFETCH(QString, typed);

    const LoadRecord record;
    const qsizetype recorded = record.read().size();
    Loader loader;
    loader.writeBlocks(2);
    loader.window->Combo1->setEditText(typed);
    loader.send({Ok, Ok, No});
    QCOMPARE(loader.messages.texts(), (QStringList{CheckCable, Completed, Repeat}));

    const QList<LoadRecordEntry> entries = record.read();
    QCOMPARE(entries.size(), recorded + 1);
    QCOMPARE(entries.last().revision, "1");
    QVERIFY(entries.last().dataFile.endsWith("/DATA.S28"));
}

// With the record at the file-size limit (ulimit -f) the record cannot grow: the window programs
// ignore SIGXFSZ, so the write fails and is logged, and the load ends as usual.
void LoadRunTest::recordAtTheFileSizeLimit()
{
    const LoadRecord record;
    Loader loader;
    loader.writeBlocks(2);
    if (record.read().isEmpty()) {
        LoadRecordEntry entry;
        entry.outcome = "completed";
        QVERIFY(record.append(entry));
    }
    const qsizetype recorded = record.read().size();
    const auto size = rlim_t(QFileInfo(record.fileName()).size());

    ignoreFileSizeLimitSignal();
    struct rlimit before = {};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &before) == 0);
    struct rlimit limited = before;
    limited.rlim_cur = size;
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &limited) == 0);
    const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &before); });

    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression("^Cannot write the load record .*loads\\.jsonl: .+"));
    loader.send({Ok, Ok, No});
    QCOMPARE(loader.messages.texts(), (QStringList{CheckCable, Completed, Repeat}));
    QVERIFY(loader.window->isVisible());
    QCOMPARE(record.read().size(), recorded);
}

void LoadRunTest::typedPortNameSelectsThatPort_data()
{
    QTest::addColumn<QString>("finish");
    QTest::newRow("Enter") << "enter";
    QTest::newRow("Send pressed at once") << "send";
}

// A port's name typed exactly over the port list selects that entry once the text is finished
// (Enter, or the focus leaving the list, as pressing Send does): the load goes to the port the
// list then shows. Other text selects none (noPortSelected).
void LoadRunTest::typedPortNameSelectsThatPort()
{
    QFETCH(QString, finish);

    Loader loader;
    const auto third = std::make_shared<SimulatedTerminal>();
    loader.ports.attach(3, third);
    Test::pick(loader.window->Combo1, "1");
    QComboBox *ports = loader.window->Combo_SerialPort;
    QCOMPARE(Test::entries(ports), (QStringList{"COM1", "COM3"}));
    QCOMPARE(ports->currentText(), "COM1");
    loader.writeBlocks(2);

    ports->setFocus();
    QTRY_VERIFY(ports->lineEdit()->hasFocus());
    ports->lineEdit()->selectAll();
    QTest::keyClicks(ports->lineEdit(), "COM3");
    if (finish == "enter")
        QTest::keyClick(ports->lineEdit(), Qt::Key_Return);
    loader.window->Combo_Send->setFocus();
    QCOMPARE(ports->currentIndex(), 1);
    loader.send({Ok, Ok, No});
    QCOMPARE(loader.messages.texts(), (QStringList{CheckCable, Completed, Repeat}));
    QCOMPARE(Test::headersSent(*third), 1);
    QCOMPARE(loader.headersSent(), 0);
}

QTEST_MAIN(LoadRunTest)
#include "tst_main_window_load.moc"
