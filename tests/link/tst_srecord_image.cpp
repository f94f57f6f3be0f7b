#include "srecord_text.h"
#include "workspace.h"

#include "link/srecord_image.h"
#include "load/load_texts.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Kv402;
using Kv402::Test::s2Record;
using Kv402::Test::s2Records;
using Kv402::Test::Workspace;

namespace {

// Bytes that a reading must have put at an image index.
struct Write
{
    qint32 index;
    QByteArray bytes;
};

using Writes = QList<Write>;
using Lines = QList<qint64>;

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result.append(char(value));
    return result;
}

QByteArray blankImageWith(const Writes &writes)
{
    QByteArray image(Image::Size, Image::Blank);
    for (const Write &write : writes)
        image.replace(write.index, write.bytes.size(), write.bytes);
    return image;
}

// Where two images first differ, for a readable failure instead of a megabyte dump.
QByteArray firstDifference(const QByteArray &actual, const QByteArray &expected)
{
    if (actual.size() != expected.size())
        return "sizes " + QByteArray::number(actual.size()) + " and "
               + QByteArray::number(expected.size());
    for (qsizetype i = 0; i < actual.size(); ++i) {
        if (actual[i] != expected[i])
            return "index 0x" + QByteArray::number(i, 16) + ": 0x"
                   + QByteArray::number(quint8(actual[i]), 16) + " instead of 0x"
                   + QByteArray::number(quint8(expected[i]), 16);
    }
    return {};
}

QByteArray randomBytes(qsizetype size)
{
    QRandomGenerator generator(402);
    QByteArray data(size, Qt::Uninitialized);
    for (char &byte : data)
        byte = char(generator.bounded(256));
    return data;
}

// A text with every kind of line end, a record on the first and last line, a wrong checksum, a
// line longer than any record and lines that are not records.
QByteArray mixedText()
{
    return "S00600004844521B\r\n" + s2Record(0x300000, "ABCDEFGH") + "\r\n"
           + s2Record(0x300004, "xy", 1) + "\r" + "\n" + "\r\n" + s2Record(0x300200, "z") + "\n\r"
           + s2Record(0x300010, QByteArray(251, 'q')) + QByteArray(700, '7') + "\r\n" + " "
           + s2Record(0x300300, "no") + "\r" + s2Record(0x3000F0, "end");
}

} // namespace

Q_DECLARE_METATYPE(Write)
Q_DECLARE_METATYPE(Kv402::DataFileProblem)

class SrecordImageTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readByte_data();
    void readByte();
    void readBytes_data();
    void readBytes();
    void reading_data();
    void reading();
    void malformed_data();
    void malformed();
    void piecesGiveTheSameReading_data();
    void piecesGiveTheSameReading();
    void wholeImageFromFile();
    void stoppedReading();
    void fileFailures_data();
    void fileFailures();
    void imageTool_data();
    void imageTool();
    void imageToolRefusesOutputs_data();
    void imageToolRefusesOutputs();
};

void SrecordImageTest::readByte_data()
{
    QTest::addColumn<qint16>("start");
    QTest::addColumn<QByteArray>("digits");
    QTest::addColumn<int>("byte");
    QTest::addColumn<qint16>("checksum");

    QTest::newRow("FF from 1 reaches 256") << qint16(1) << QByteArray("FF") << 255 << qint16(256);
    QTest::newRow("01 after 256 wraps to 1") << qint16(256) << QByteArray("01") << 1 << qint16(1);
    QTest::newRow("00 at 256 stays 256") << qint16(256) << QByteArray("00") << 0 << qint16(256);
    QTest::newRow("sum above 256 loses 256")
        << qint16(200) << QByteArray("80") << 128 << qint16(72);
    QTest::newRow("decimal digits") << qint16(1) << QByteArray("90") << 0x90 << qint16(0x91);
    QTest::newRow("lower case") << qint16(1) << QByteArray("af") << 0xAF << qint16(0xB0);
    QTest::newRow("mixed case") << qint16(1) << QByteArray("eD") << 0xED << qint16(0xEE);
    QTest::newRow("G is no digit")
        << qint16(5) << QByteArray("G0") << RecordChecksum::NotHex << qint16(5);
    // A colon sorts after 9; it must not count as a digit worth 3.
    QTest::newRow("colon is no digit")
        << qint16(5) << QByteArray("0:") << RecordChecksum::NotHex << qint16(5);
    QTest::newRow("blank is no digit")
        << qint16(5) << QByteArray(" 1") << RecordChecksum::NotHex << qint16(5);
    QTest::newRow("8-bit character is no digit") << qint16(5)
                                                 << QByteArray("\xC1"
                                                               "0")
                                                 << RecordChecksum::NotHex << qint16(5);
}

void SrecordImageTest::readByte()
{
    QFETCH(qint16, start);
    QFETCH(QByteArray, digits);
    QFETCH(int, byte);
    QFETCH(qint16, checksum);

    RecordChecksum sum;
    sum.runningSum = start;
    QCOMPARE(sum.readByte(digits[0], digits[1]), byte);
    QCOMPARE(sum.runningSum, checksum);
}

void SrecordImageTest::readBytes_data()
{
    QTest::addColumn<qint16>("start");
    QTest::addColumn<QByteArray>("digits");
    QTest::addColumn<int>("decoded");

    QTest::newRow("address") << qint16(1) << QByteArray("300000") << 3;
    QTest::newRow("sum wraps many times") << qint16(1) << QByteArray(2 * 255, 'F') << 255;
    QTest::newRow("wraps from the start") << qint16(200) << QByteArray("80FF01") << 3;
    QTest::newRow("zeros at 256") << qint16(256) << QByteArray("0000") << 2;
    QTest::newRow("ends at exactly 256") << qint16(1) << QByteArray("7F80") << 2;
    QTest::newRow("mixed case") << qint16(1) << QByteArray("aBcDeF") << 3;
    QTest::newRow("stops at a high digit") << qint16(7) << QByteArray("12G4") << 1;
    QTest::newRow("stops at a low digit") << qint16(7) << QByteArray("FFF:") << 1;
    QTest::newRow("stops at the first pair") << qint16(7) << QByteArray("\r0") << 0;
    QTest::newRow("nothing to decode") << qint16(7) << QByteArray() << 0;
}

// Decoding a row of pairs at once must come to what readByte does pair by pair.
void SrecordImageTest::readBytes()
{
    QFETCH(qint16, start);
    QFETCH(QByteArray, digits);
    QFETCH(int, decoded);

    RecordChecksum stepwise;
    stepwise.runningSum = start;
    QByteArray expected;
    for (qsizetype i = 0; i + 1 < digits.size(); i += 2) {
        const int byte = stepwise.readByte(digits[i], digits[i + 1]);
        if (byte == RecordChecksum::NotHex)
            break;
        expected.append(char(byte));
    }

    RecordChecksum sum;
    sum.runningSum = start;
    QByteArray bytes(digits.size() / 2, '\0');
    const int count = int(digits.size() / 2);
    QCOMPARE(sum.readBytes(digits.constData(), count, reinterpret_cast<quint8 *>(bytes.data())),
             decoded);
    QCOMPARE(bytes.left(decoded), expected);
    QCOMPARE(sum.runningSum, stepwise.runningSum);
}

void SrecordImageTest::reading_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Writes>("writes");
    QTest::addColumn<qint32>("end");
    QTest::addColumn<int>("blocks");
    QTest::addColumn<Lines>("wrongChecksums");

    QTest::newRow("empty file") << QByteArray() << Writes{} << 0 << 0 << Lines{};
    QTest::newRow("no S2 records")
        << QByteArray("S00600004844521B\r\nS1051000AABB8F\r\nS9030000FC\r\n") << Writes{} << 0 << 0
        << Lines{};
    QTest::newRow("all below 0x300000")
        << s2Record(0x000000, "abc") + "\r\n" + s2Record(0x2FFFE0, QByteArray(32, 'x')) + "\r\n"
        << Writes{} << 0 << 0 << Lines{};
    // Only where a record starts counts: one that starts below the image is dropped whole.
    QTest::newRow("record from just below running into the image")
        << s2Record(0x2FFFFF, QByteArray(32, 'x')) + "\r\n"
        << Writes{} << 0 << 0 << Lines{};
    QTest::newRow("record at 0x300000") << s2Record(0x300000, "ABCD") + "\r\n"
                                        << Writes{{0, "ABCD"}} << 3 << 1 << Lines{};
    QTest::newRow("later record wins")
        << s2Record(0x300010, "abcdef") + "\r\n" + s2Record(0x300012, "XY") + "\r\n"
        << Writes{{0x10, "abXYef"}} << 0x15 << 1 << Lines{};
    QTest::newRow("highest index is the highest written, not the last")
        << s2Record(0x300300, "hi") + "\r\n" + s2Record(0x300000, "lo") + "\r\n"
        << Writes{{0, "lo"}, {0x300, "hi"}} << 0x301 << 4 << Lines{};
    QTest::newRow("wrong checksum keeps its data")
        << s2Record(0x300000, "ok") + "\r\n" + s2Record(0x300002, "bad", 1) + "\r\n"
               + s2Record(0x300005, "bad", -1) + "\r\n"
        << Writes{{0, "okbadbad"}} << 7 << 1 << Lines{2, 3};
    QTest::newRow("wrong checksum below 0x300000 is not tested")
        << s2Record(0x100000, "bad", 1) + "\r\n"
        << Writes{} << 0 << 0 << Lines{};
    QTest::newRow("blank-led, tab-led and lower-case lines skipped")
        << " " + s2Record(0x300000, "a") + "\r\n\t" + s2Record(0x300001, "b") + "\r\ns2"
               + s2Record(0x300002, "c").mid(2) + "\r\n"
        << Writes{} << 0 << 0 << Lines{};
    QTest::newRow("lower-case hex digits")
        << s2Record(0x300000, bytes({0xAB, 0xCD, 0xEF}), 1).toLower().replace("s2", "S2")
        << Writes{{0, bytes({0xAB, 0xCD, 0xEF})}} << 2 << 1 << Lines{1};
    QTest::newRow("CR line ends") << s2Record(0x300000, "a") + "\r" + "\r"
                                         + s2Record(0x300001, "b", 1) + "\r"
                                  << Writes{{0, "ab"}} << 1 << 1 << Lines{3};
    QTest::newRow("LF line ends") << s2Record(0x300000, "a") + "\n" + "\n"
                                         + s2Record(0x300001, "b", 1) + "\n"
                                  << Writes{{0, "ab"}} << 1 << 1 << Lines{3};
    QTest::newRow("LF CR is two line ends")
        << s2Record(0x300000, "a") + "\n\r" + s2Record(0x300001, "b", 1) << Writes{{0, "ab"}} << 1
        << 1 << Lines{3};
    QTest::newRow("last line without line end")
        << "\r\n" + s2Record(0x300000, "end", 1) << Writes{{0, "end"}} << 2 << 1 << Lines{2};
    QTest::newRow("characters after the checksum are not read")
        << s2Record(0x300000, "a") + "GG \x01 S2\r\n"
        << Writes{{0, "a"}} << 0 << 1 << Lines{};
    QTest::newRow("longest record")
        << s2Record(0x300000, QByteArray(251, 'L')) + QByteArray(1000, 'x')
        << Writes{{0, QByteArray(251, 'L')}} << 250 << 1 << Lines{};
    QTest::newRow("count of 4 writes nothing")
        << s2Record(0x300000, "ab") + "\r\n" + s2Record(0x300500, "") + "\r\n"
               + s2Record(0x300600, "", 1) + "\r\n"
        << Writes{{0, "ab"}} << 1 << 1 << Lines{3};
    QTest::newRow("count of 4 alone leaves no blocks") << s2Record(0x300000, "") + "\r\n"
                                                       << Writes{} << 0 << 0 << Lines{};
    QTest::newRow("count of 4 above the memory is no failure")
        << s2Record(0x400000, "") + "\r\n" + s2Record(0xFFFFFF, "") << Writes{} << 0 << 0
        << Lines{};
    QTest::newRow("one byte at index 0")
        << s2Record(0x300000, "1") << Writes{{0, "1"}} << 0 << 1 << Lines{};
    QTest::newRow("highest index at a multiple of 256 keeps its last byte")
        << s2Record(0x300100, "1") << Writes{{0x100, "1"}} << 0x100 << 2 << Lines{};
    QTest::newRow("data up to 0x3FFFFF")
        << s2Record(0x3FFFF0, QByteArray(16, 't')) << Writes{{0xFFFF0, QByteArray(16, 't')}}
        << 0xFFFFF << Image::MaxBlocks << Lines{};
    QTest::newRow("malformed below 0x300000 is dropped")
        << s2Record(0x200000, "abc").left(14) + "\r\n"
               + s2Record(0x200000, "abc").replace(12, 2, "GG") + "\r\n" + "S201200000\r\n"
               + s2Record(0x300000, "ok")
        << Writes{{0, "ok"}} << 1 << 1 << Lines{};
    QTest::newRow("every line end kind, long lines")
        << mixedText()
        << Writes{{0, "ABCDxyGH"}, {0x10, QByteArray(251, 'q')}, {0xF0, "end"}, {0x200, "z"}}
        << 0x200 << 3 << Lines{3};
}

void SrecordImageTest::reading()
{
    QFETCH(QByteArray, text);
    QFETCH(Writes, writes);
    QFETCH(qint32, end);
    QFETCH(int, blocks);
    QFETCH(Lines, wrongChecksums);

    const DataFileReading reading = readDataText(text);
    QCOMPARE(reading.problem, DataFileProblem::None);
    QVERIFY(reading.ok());
    QVERIFY2(reading.image.bytes == blankImageWith(writes),
             firstDifference(reading.image.bytes, blankImageWith(writes)).constData());
    QCOMPARE(reading.image.imageEnd, end);
    QCOMPARE(reading.image.anythingWritten, !writes.isEmpty());
    QCOMPARE(reading.image.blockCount(), blocks);
    QCOMPARE(reading.wrongChecksumLines, wrongChecksums);
}

void SrecordImageTest::malformed_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<DataFileProblem>("problem");
    QTest::addColumn<qint64>("line");
    QTest::addColumn<int>("column");

    const QByteArray good = s2Record(0x300000, "ok") + "\r\n";
    const QByteArray record = s2Record(0x300010, "data"); // count 08, data in columns 11-18

    QTest::newRow("not hex in the count") << good + QByteArray(record).replace(2, 1, "G")
                                          << DataFileProblem::NotHexDigit << qint64(2) << 3;
    QTest::newRow("not hex in the address") << good + good + QByteArray(record).replace(8, 1, " ")
                                            << DataFileProblem::NotHexDigit << qint64(3) << 9;
    QTest::newRow("not hex in a data byte's low digit")
        << good + QByteArray(record).replace(11, 1, "x") << DataFileProblem::NotHexDigit
        << qint64(2) << 12;
    QTest::newRow("not hex in the checksum") << QByteArray(record).replace(19, 1, ":")
                                             << DataFileProblem::NotHexDigit << qint64(1) << 20;
    QTest::newRow("line shorter than its count")
        << good + "\n" + record.chopped(1) << DataFileProblem::LineTooShort << qint64(3) << 0;
    QTest::newRow("line cut by a CR") << good + record.left(12) + "\r" + record.mid(12)
                                      << DataFileProblem::LineTooShort << qint64(2) << 0;
    QTest::newRow("S2 alone") << QByteArray("S2\r\n") << DataFileProblem::LineTooShort << qint64(1)
                              << 0;
    QTest::newRow("address cut short") << good + "S2083000\r\n"
                                       << DataFileProblem::LineTooShort << qint64(2) << 0;
    QTest::newRow("count of 3") << good + "S20330000000" << DataFileProblem::CountBelowFour
                                << qint64(2) << 0;
    QTest::newRow("count of 0") << good + "S200300000FF" << DataFileProblem::CountBelowFour
                                << qint64(2) << 0;
    QTest::newRow("data at 0x400000")
        << good + s2Record(0x400000, "x") << DataFileProblem::BeyondMemory << qint64(2) << 0;
    QTest::newRow("record running past 0x3FFFFF")
        << s2Record(0x3FFFF8, QByteArray(9, 'r')) << DataFileProblem::BeyondMemory << qint64(1)
        << 0;
    QTest::newRow("data at the top of the address range")
        << s2Record(0xFFFFFF, "x") << DataFileProblem::BeyondMemory << qint64(1) << 0;
    QTest::newRow("after a wrong checksum, counting CR and LF lines")
        << s2Record(0x300000, "a", 1) + "\r" + "\n" + "\r\n" + "\n\r" + record.left(9)
        << DataFileProblem::LineTooShort << qint64(5) << 0;
}

void SrecordImageTest::malformed()
{
    QFETCH(QByteArray, text);
    QFETCH(DataFileProblem, problem);
    QFETCH(qint64, line);
    QFETCH(int, column);

    const DataFileReading reading = readDataText(text);
    QVERIFY(!reading.ok());
    QCOMPARE(reading.problem, problem);
    QCOMPARE(reading.failureLine, line);
    QCOMPARE(reading.failureColumn, column);
    // The message names the line, and the column of a character that is not a hex digit, in
    // both languages.
    const LoadMessage told{.kind = LoadMessage::Kind::DataFileUnusable,
                           .file = QStringLiteral("/srv/KV10ENG.S28"),
                           .problem = reading.problem,
                           .line = reading.failureLine,
                           .column = reading.failureColumn};
    const QString english = loadMessageText(told, Language::English);
    const QString italian = loadMessageText(told, Language::Italian);
    QVERIFY2(english.contains(QStringLiteral("/srv/KV10ENG.S28")), qPrintable(english));
    QVERIFY2(english.contains(QStringLiteral("line %1").arg(line)), qPrintable(english));
    QVERIFY2(italian.contains(QStringLiteral("riga %1").arg(line)), qPrintable(italian));
    if (column > 0) {
        QVERIFY2(english.contains(QStringLiteral("column %1").arg(column)), qPrintable(english));
        QVERIFY2(italian.contains(QStringLiteral("colonna %1").arg(column)), qPrintable(italian));
    }
    // Nothing of a failed reading may reach the terminal.
    QVERIFY(reading.image.bytes == QByteArray(Image::Size, Image::Blank));
    QCOMPARE(reading.image.blockCount(), 0);
    QVERIFY(reading.wrongChecksumLines.isEmpty());
}

void SrecordImageTest::piecesGiveTheSameReading_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("every line end kind, long lines") << mixedText();
    QTest::newRow("malformed on the last line") << mixedText() + "\r\nS2043000\r\n";
}

// The file is read in pieces: a line, or a CR LF, may be cut anywhere.
void SrecordImageTest::piecesGiveTheSameReading()
{
    QFETCH(QByteArray, text);
    const DataFileReading whole = readDataText(text);

    const auto check = [&](const QList<QByteArrayView> &pieces, const char *how) {
        DataTextReader reader;
        for (QByteArrayView piece : pieces)
            reader.add(piece);
        const DataFileReading reading = reader.finish();
        QVERIFY2(reading.image.bytes == whole.image.bytes, how);
        QCOMPARE(reading.image.imageEnd, whole.image.imageEnd);
        QCOMPARE(reading.wrongChecksumLines, whole.wrongChecksumLines);
        QCOMPARE(reading.problem, whole.problem);
        QCOMPARE(reading.failureLine, whole.failureLine);
        QCOMPARE(reading.failureColumn, whole.failureColumn);
    };

    const QByteArrayView view(text);
    for (qsizetype cut = 0; cut <= view.size(); ++cut) {
        check({view.first(cut), view.sliced(cut)}, "cut in two");
        if (QTest::currentTestFailed())
            QFAIL(qPrintable(QStringLiteral("differs when cut at %1").arg(cut)));
    }
    QList<QByteArrayView> single;
    for (qsizetype i = 0; i < view.size(); ++i)
        single.append(view.sliced(i, 1));
    check(single, "one character at a time");
}

void SrecordImageTest::wholeImageFromFile()
{
    Workspace workspace;
    const QByteArray data = randomBytes(Image::SendableEnd);
    workspace.writeFile(QStringLiteral("FULL.S28"),
                        "S00600004844521B\r\n" + s2Records(Image::BaseAddress, data)
                            + "S804300000CB\r\n");

    const DataFileReading reading = readDataFile(QStringLiteral("FULL.S28"));
    QCOMPARE(reading.problem, DataFileProblem::None);
    QVERIFY(reading.ok());
    QCOMPARE(reading.image.blockCount(), Image::MaxBlocks);
    QCOMPARE(reading.image.imageEnd, Image::SendableEnd - 1);
    QVERIFY(reading.image.bytes.startsWith(data));
    QCOMPARE(reading.image.block(Image::MaxBlocks - 1), data.right(Image::BlockSize));
    QVERIFY(reading.wrongChecksumLines.isEmpty());
}

// A stop request ends the reading of a large file between two pieces, with nothing read.
void SrecordImageTest::stoppedReading()
{
    Workspace workspace;
    workspace.writeFile(QStringLiteral("FULL.S28"),
                        s2Records(Image::BaseAddress, randomBytes(Image::SendableEnd)));
    const std::atomic<bool> stop{true};
    const DataFileReading reading = readDataFile(QStringLiteral("FULL.S28"), &stop);
    QVERIFY(reading.stopped);
    QVERIFY(!reading.ok());
    QCOMPARE(reading.image.blockCount(), 0);

    const std::atomic<bool> goOn{false};
    QVERIFY(readDataFile(QStringLiteral("FULL.S28"), &goOn).ok());
}

void SrecordImageTest::fileFailures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<DataFileProblem>("problem");

    QTest::newRow("missing") << QStringLiteral("NONE.S28") << DataFileProblem::FileMissing;
    QTest::newRow("empty name") << QString() << DataFileProblem::FileMissing;
    QTest::newRow("a folder") << QStringLiteral("FOLDER.S28") << DataFileProblem::FileUnreadable;
    QTest::newRow("a device") << QStringLiteral("/dev/zero") << DataFileProblem::FileUnreadable;
    QTest::newRow("found in the current folder")
        << QStringLiteral("HERE.S28") << DataFileProblem::None;
}

void SrecordImageTest::fileFailures()
{
    QFETCH(QString, name);
    QFETCH(DataFileProblem, problem);

    Workspace workspace;
    QVERIFY(QDir(workspace.path()).mkdir(QStringLiteral("FOLDER.S28")));
    workspace.writeFile(QStringLiteral("HERE.S28"), s2Record(0x300000, "here"));

    const DataFileReading reading = readDataFile(name);
    QCOMPARE(reading.problem, problem);
    QCOMPARE(reading.failureLine, qint64(0));
    if (problem == DataFileProblem::None) {
        QCOMPARE(reading.image.bytes.left(4), QByteArray("here"));
        return;
    }
    QCOMPARE(reading.image.blockCount(), 0);
    QCOMPARE(reading.fileError.isEmpty(), problem == DataFileProblem::FileMissing);
    // What the message says of the file: that it does not exist, or the system's reason.
    const QString told = dataFileProblemText(reading.problem,
                                             reading.failureLine,
                                             reading.failureColumn,
                                             reading.fileError,
                                             Language::English);
    if (problem == DataFileProblem::FileMissing)
        QCOMPARE(told, QStringLiteral("the file does not exist"));
    else
        QVERIFY2(told.contains(reading.fileError), qPrintable(told));
}

void SrecordImageTest::imageTool_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QByteArray>("message");

    const QByteArray twoBlocks = s2Record(0x300000, "abc") + "\r\n" + s2Record(0x300100, "Z")
                                 + "\r\n" + s2Record(0x300003, "d", 3) + "\r\n";
    const QStringList toOut{"DATA.S28", "-o", "out.bin"};

    QTest::newRow("two blocks") << twoBlocks << toOut << 0
                                << QByteArray("abcd") + QByteArray(252, '\xFF') + "Z"
                                       + QByteArray(255, '\xFF')
                                << QByteArray("blocks: 2\nhighest index: 0x100\n"
                                              "wrong checksums: 1 (lines 3)\n");
    QTest::newRow("output named first")
        << twoBlocks << QStringList{"-o", "out.bin", "DATA.S28"} << 0
        << QByteArray("abcd") + QByteArray(252, '\xFF') + "Z" + QByteArray(255, '\xFF')
        << QByteArray("blocks: 2\n");
    QTest::newRow("malformed") << "\r\n" + s2Record(0x300000, "abc").replace(10, 1, "g") << toOut
                               << 1 << QByteArray("old")
                               << QByteArray("The data file DATA.S28 cannot be loaded: line 2, "
                                             "column 11: not a hex digit");
    QTest::newRow("no data") << s2Record(0x200000, "abc") << toOut << 1 << QByteArray("old")
                             << QByteArray("holds no data");
    QTest::newRow("missing file")
        << QByteArray() << QStringList{"NONE.S28", "-o", "out.bin"} << 1 << QByteArray("old")
        << QByteArray("The data file NONE.S28 cannot be loaded: the file does not exist");
    QTest::newRow("no output named") << twoBlocks << QStringList{"DATA.S28"} << 2
                                     << QByteArray("old") << QByteArray("Usage: kv402 image");
    QTest::newRow("two data files") << twoBlocks << QStringList{"DATA.S28", "DATA.S28", "-o", "x"}
                                    << 2 << QByteArray("old") << QByteArray("Usage: kv402 image");
}

void SrecordImageTest::imageTool()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, output);
    QFETCH(QByteArray, message);

    Workspace workspace;
    workspace.writeFile(QStringLiteral("DATA.S28"), text);
    // A failure must leave an earlier output as it was.
    workspace.writeFile(QStringLiteral("out.bin"), "old");

    QProcess tool;
    tool.start(QStringLiteral(KV402_TOOL), QStringList{"image"} + arguments);
    QVERIFY(tool.waitForFinished());
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), exitCode);
    const QByteArray said = exitCode == 0 ? tool.readAllStandardOutput()
                                          : tool.readAllStandardError();
    QVERIFY2(said.contains(message), said.constData());

    QFile out(workspace.filePath(QStringLiteral("out.bin")));
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(out.readAll(), output);
}

void SrecordImageTest::imageToolRefusesOutputs_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("a device") << "/dev/null"
                              << QByteArray("cannot write \"/dev/null\": it is not a regular file");
    QTest::newRow("a link to a device")
        << "device-link" << QByteArray("cannot write \"device-link\": it is not a regular file");
    QTest::newRow("a FIFO") << "pipe"
                            << QByteArray("cannot write \"pipe\": it is not a regular file");
    QTest::newRow("a folder") << "folder"
                              << QByteArray("cannot write \"folder\": it is not a regular file");
    QTest::newRow("the data file")
        << "DATA.S28" << QByteArray("cannot write \"DATA.S28\": it is the input file");
    QTest::newRow("the data file through a link")
        << "data-link" << QByteArray("cannot write \"data-link\": it is the input file");
    QTest::newRow("the data file by a hard link")
        << "hard-link" << QByteArray("cannot write \"hard-link\": it is the input file");
}

void SrecordImageTest::imageToolRefusesOutputs()
{
    QFETCH(QString, output);
    QFETCH(QByteArray, message);

    Workspace workspace;
    const QByteArray text = s2Record(0x300000, "abc") + "\r\n";
    workspace.writeFile(QStringLiteral("DATA.S28"), text);
    QVERIFY(QDir(workspace.path()).mkdir(QStringLiteral("folder")));
    QCOMPARE(mkfifo(qPrintable(workspace.filePath(QStringLiteral("pipe"))), 0600), 0);
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), workspace.filePath("device-link")));
    QVERIFY(QFile::link(QStringLiteral("DATA.S28"), workspace.filePath("data-link")));
    QCOMPARE(link(qPrintable(workspace.filePath(QStringLiteral("DATA.S28"))),
                  qPrintable(workspace.filePath(QStringLiteral("hard-link")))),
             0);
    const QStringList entries
        = QDir(workspace.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);

    QProcess tool;
    tool.start(QStringLiteral(KV402_TOOL), {"image", "DATA.S28", "-o", output});
    QVERIFY(tool.waitForFinished());
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 1);
    const QByteArray said = tool.readAllStandardError();
    QVERIFY2(said.contains(message), said.constData());

    // Everything stays as it was: no file in place of a device, a FIFO or a folder, no
    // temporary file, the data file unchanged.
    QCOMPARE(QDir(workspace.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
             entries);
    QVERIFY(!QFileInfo(workspace.filePath(QStringLiteral("pipe"))).isFile());
    QVERIFY(QFileInfo(workspace.filePath(QStringLiteral("folder"))).isDir());
    QVERIFY(!QFileInfo(QStringLiteral("/dev/null")).isFile());
    QFile data(workspace.filePath(QStringLiteral("DATA.S28")));
    QVERIFY(data.open(QIODevice::ReadOnly));
    QCOMPARE(data.readAll(), text);
}

QTEST_GUILESS_MAIN(SrecordImageTest)

#include "tst_srecord_image.moc"
