// The words of a load's messages: every message, every way a port fails to open and every problem
// of a data file is worded in both languages, with each of its arguments in its place.

#include "load/load_texts.h"

#include <QRegularExpression>
#include <QTest>

using namespace Kv402;

namespace {

const QString File = QStringLiteral("/srv/kv402/KV10ENG.S28");
const QString Port = QStringLiteral("COM3");
const QString Device = QStringLiteral("/dev/ttyS2");
const QString Reason = QStringLiteral("Input/output error");

// A message of this kind with every argument any kind takes.
LoadMessage message(LoadMessage::Kind kind)
{
    return {.kind = kind,
            .file = File,
            .problem = DataFileProblem::NotHexDigit,
            .line = 7,
            .column = 9,
            .reason = Reason,
            .count = 12,
            .lines = {1, 2, 3},
            .port = Port,
            .openFailure = {PortOpenFailure::Kind::InUse, Device, Reason}};
}

QList<int> placeholders(const QString &text)
{
    QList<int> numbers;
    static const QRegularExpression placeholder(QStringLiteral("%(\\d)"));
    for (const QRegularExpressionMatch &match : placeholder.globalMatch(text))
        numbers.append(match.captured(1).toInt());
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

} // namespace

class LoadTextsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyMessageIsWorded_data();
    void everyMessageIsWorded();
    void portOpenFailures_data();
    void portOpenFailures();
    void dataFileProblems_data();
    void dataFileProblems();
    void bothLanguagesTakeTheSameArguments_data();
    void bothLanguagesTakeTheSameArguments();
};

void LoadTextsTest::everyMessageIsWorded_data()
{
    QTest::addColumn<int>("kind");
    // What the words must name.
    QTest::addColumn<QStringList>("named");

    using Kind = LoadMessage::Kind;
    for (int kind = 0; kind <= int(Kind::PortStoppedWorking); ++kind) {
        QStringList named;
        switch (Kind(kind)) {
        case Kind::DataFileUnusable:
            named = QStringList{File, QStringLiteral("7"), QStringLiteral("9")};
            break;
        case Kind::NoDataToLoad:
            named = QStringList{File};
            break;
        case Kind::WrongChecksumQuestion:
            named = QStringList{QStringLiteral("12"), QStringLiteral("1, 2, 3")};
            break;
        case Kind::PortNotOpened:
            named = QStringList{Port, Device, Reason};
            break;
        case Kind::PortStoppedWorking:
            named = QStringList{Port, Reason};
            break;
        default:
            break;
        }
        QTest::addRow("kind %d", kind) << kind << named;
    }
}

void LoadTextsTest::everyMessageIsWorded()
{
    QFETCH(int, kind);
    QFETCH(QStringList, named);

    const LoadMessage told = message(LoadMessage::Kind(kind));
    const QString english = loadMessageText(told, Language::English);
    const QString italian = loadMessageText(told, Language::Italian);
    for (const QString &text : {english, italian}) {
        QVERIFY(!text.isEmpty());
        QVERIFY2(placeholders(text).isEmpty(), qPrintable(text));
        for (const QString &argument : named)
            QVERIFY2(text.contains(argument), qPrintable(text + " lacks " + argument));
    }
    // Two messages exist in Italian only and read the same in both languages.
    const bool italianOnly = told.kind == LoadMessage::Kind::WrongChecksum
                             || told.kind == LoadMessage::Kind::FlashWriteError;
    QCOMPARE(english == italian, italianOnly);
}

void LoadTextsTest::portOpenFailures_data()
{
    QTest::addColumn<PortOpenFailure>("failure");
    QTest::addColumn<QString>("hint");

    using Kind = PortOpenFailure::Kind;
    const QString dialout = PortTexts::DialoutHint.in(Language::English);
    QTest::newRow("missing") << PortOpenFailure{Kind::Missing, Device, Reason} << "";
    QTest::newRow("access denied")
        << PortOpenFailure{Kind::AccessDenied, Device, Reason} << dialout;
    QTest::newRow("in use") << PortOpenFailure{Kind::InUse, Device, Reason} << "";
    QTest::newRow("the system's reason") << PortOpenFailure{Kind::Other, Device, Reason} << "";
    // A port with no device of its own names itself.
    QTest::newRow("no device") << PortOpenFailure{Kind::Other, QString(), Reason} << "";
}

void LoadTextsTest::portOpenFailures()
{
    QFETCH(PortOpenFailure, failure);
    QFETCH(QString, hint);

    const QString text = portOpenFailureText(Port, failure, Language::English);
    QVERIFY2(text.startsWith("Cannot open the serial port COM3: "), qPrintable(text));
    QVERIFY2(text.contains(failure.device.isEmpty() ? Port : failure.device), qPrintable(text));
    QVERIFY2(text.contains(Reason), qPrintable(text));
    QCOMPARE(text.endsWith(hint), true);
    QVERIFY(portOpenFailureText(Port, failure, Language::Italian) != text);
}

void LoadTextsTest::dataFileProblems_data()
{
    QTest::addColumn<DataFileProblem>("problem");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("italian");

    QTest::newRow("missing") << DataFileProblem::FileMissing << "the file does not exist"
                             << "il file non esiste";
    QTest::newRow("unreadable") << DataFileProblem::FileUnreadable
                                << "the file cannot be read (" + Reason + ")"
                                << "il file non può essere letto (" + Reason + ")";
    QTest::newRow("not a hex digit")
        << DataFileProblem::NotHexDigit << "line 7, column 9: not a hex digit"
        << "riga 7, colonna 9: carattere non esadecimale";
    QTest::newRow("line too short") << DataFileProblem::LineTooShort << "line 7: "
                                    << "riga 7: ";
    QTest::newRow("count below 4") << DataFileProblem::CountBelowFour << "line 7: "
                                   << "riga 7: ";
    QTest::newRow("beyond memory") << DataFileProblem::BeyondMemory << "line 7: "
                                   << "riga 7: ";
    QTest::newRow("not as released")
        << DataFileProblem::NotAsReleased << "the file is not the one the signed bundle released"
        << "il file non è quello rilasciato";
}

void LoadTextsTest::dataFileProblems()
{
    QFETCH(DataFileProblem, problem);
    QFETCH(QString, english);
    QFETCH(QString, italian);

    const QString inEnglish = dataFileProblemText(problem, 7, 9, Reason, Language::English);
    const QString inItalian = dataFileProblemText(problem, 7, 9, Reason, Language::Italian);
    QVERIFY2(inEnglish.startsWith(english), qPrintable(inEnglish));
    QVERIFY2(inItalian.startsWith(italian), qPrintable(inItalian));
    QVERIFY(placeholders(inEnglish).isEmpty());
    QVERIFY(placeholders(inItalian).isEmpty());
}

void LoadTextsTest::bothLanguagesTakeTheSameArguments_data()
{
    QTest::addColumn<Bilingual>("text");

    const std::pair<const char *, Bilingual> texts[] = {
        {"CheckCable", LoadTexts::CheckCable},
        {"WrongChecksum", LoadTexts::WrongChecksum},
        {"CableNotConnected", LoadTexts::CableNotConnected},
        {"PortOutOfOrder", LoadTexts::PortOutOfOrder},
        {"FlashWriteError", LoadTexts::FlashWriteError},
        {"LoadCompleted", LoadTexts::LoadCompleted},
        {"RepeatLoad", LoadTexts::RepeatLoad},
        {"WrongChecksumQuestion", LoadTexts::WrongChecksumQuestion},
        {"MoreLines", LoadTexts::MoreLines},
        {"TerminalNotAnswering", LoadTexts::TerminalNotAnswering},
        {"NoPortSelected", LoadTexts::NoPortSelected},
        {"PortsDenied", LoadTexts::PortsDenied},
        {"DataFileUnusable", LoadTexts::DataFileUnusable},
        {"NoDataToLoad", LoadTexts::NoDataToLoad},
        {"PortStoppedWorking", LoadTexts::PortStoppedWorking},
        {"PortTakesNoMoreBytes", LoadTexts::PortTakesNoMoreBytes},
        {"DataFileTexts::Missing", DataFileTexts::Missing},
        {"DataFileTexts::Unreadable", DataFileTexts::Unreadable},
        {"DataFileTexts::NotHexDigit", DataFileTexts::NotHexDigit},
        {"DataFileTexts::LineTooShort", DataFileTexts::LineTooShort},
        {"DataFileTexts::CountBelowFour", DataFileTexts::CountBelowFour},
        {"DataFileTexts::BeyondMemory", DataFileTexts::BeyondMemory},
        {"DataFileTexts::NotAsReleased", DataFileTexts::NotAsReleased},
        {"PortTexts::OpenFailed", PortTexts::OpenFailed},
        {"PortTexts::Missing", PortTexts::Missing},
        {"PortTexts::AccessDenied", PortTexts::AccessDenied},
        {"PortTexts::InUse", PortTexts::InUse},
        {"PortTexts::SystemReason", PortTexts::SystemReason},
        {"PortTexts::DialoutHint", PortTexts::DialoutHint},
        {"PortTexts::WithoutModemLines", PortTexts::WithoutModemLines},
    };
    for (const auto &[name, text] : texts)
        QTest::newRow(name) << text;
}

void LoadTextsTest::bothLanguagesTakeTheSameArguments()
{
    QFETCH(Bilingual, text);
    const QString english = text.in(Language::English);
    const QString italian = text.in(Language::Italian);
    QVERIFY(!english.isEmpty());
    QVERIFY(!italian.isEmpty());
    QCOMPARE(placeholders(italian), placeholders(english));
}

QTEST_APPLESS_MAIN(LoadTextsTest)
#include "tst_load_texts.moc"
