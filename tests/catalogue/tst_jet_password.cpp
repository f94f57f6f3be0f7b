#include "catalogue/jet_password.h"

#include <QTest>
#include <QtEndian>

#include <bit>

using namespace Kv402;

namespace {

// The first page of an Access file as the engine writes it, built from the published layout so
// that the decoder is checked against the layout and not against itself.
struct HeaderSpec
{
    char version = 1; // 0 Jet 3, 1 Jet 4
    quint16 codePage = 1252;
    double created = 0;
    QByteArray password; // as stored before masking: code-page bytes or UCS-2LE
};

QByteArray buildPage(const HeaderSpec &spec)
{
    QByteArray page(4096, '\0');
    page.replace(4, 15, "Standard Jet DB");
    page[0x14] = spec.version;
    qToLittleEndian<quint16>(spec.codePage, page.data() + 0x3C);
    qToLittleEndian<quint64>(std::bit_cast<quint64>(spec.created), page.data() + 0x72);

    const bool jet4 = spec.version == 1;
    QByteArray password = spec.password;
    password.resize(jet4 ? 40 : 20, '\0');
    if (jet4) {
        const auto mask = quint32(qint32(spec.created));
        for (int i = 0; i < password.size(); ++i)
            password[i] = char(quint8(password[i]) ^ quint8(mask >> (8 * (i % 4))));
    }
    page.replace(0x42, password.size(), password);

    const qsizetype scrambled = jet4 ? 128 : 126;
    const QByteArray key("\xC7\xDA\x39\x6B", 4);
    page.replace(0x18, scrambled, Jet::rc4(key, page.mid(0x18, scrambled)));
    return page;
}

QByteArray ucs2(const QString &text)
{
    QByteArray bytes;
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

} // namespace

class JetPasswordTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rc4KnownAnswers_data();
    void rc4KnownAnswers();
    void decodesPassword_data();
    void decodesPassword();
    void rejectsOtherFiles_data();
    void rejectsOtherFiles();
    void textCharset_data();
    void textCharset();
};

void JetPasswordTest::rc4KnownAnswers_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("cipher");

    QTest::newRow("Key") << QByteArray("Key") << QByteArray("Plaintext")
                         << QByteArray::fromHex("BBF316E8D940AF0AD3");
    QTest::newRow("Wiki") << QByteArray("Wiki") << QByteArray("pedia")
                          << QByteArray::fromHex("1021BF0420");
    QTest::newRow("Secret") << QByteArray("Secret") << QByteArray("Attack at dawn")
                            << QByteArray::fromHex("45A01F645FC35B383552544B9BF5");
}

void JetPasswordTest::rc4KnownAnswers()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, cipher);

    QCOMPARE(Jet::rc4(key, plain), cipher);
    QCOMPARE(Jet::rc4(key, cipher), plain);
}

void JetPasswordTest::decodesPassword_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("codePage");
    QTest::addColumn<double>("created");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("expected");

    const double created = 38143.546523784724;
    QTest::newRow("jet4 none") << 1 << 1252 << created << QByteArray() << QString();
    QTest::newRow("jet4 eight") << 1 << 1252 << created << ucs2("tqm507rw") << "tqm507rw";
    QTest::newRow("jet4 twenty, no end mark")
        << 1 << 1252 << created << ucs2("abcdefghij0123456789") << "abcdefghij0123456789";
    QTest::newRow("jet4 non-ASCII") << 1 << 1252 << created << ucs2("pässwörd€Ж") << "pässwörd€Ж";
    // The day count is truncated toward zero, not rounded and not floored.
    QTest::newRow("jet4 date late in the day") << 1 << 1252 << 45000.999 << ucs2("key") << "key";
    QTest::newRow("jet4 date before 1899") << 1 << 1252 << -700.75 << ucs2("key") << "key";
    QTest::newRow("jet4 day zero") << 1 << 1252 << 0.25 << ucs2("key") << "key";

    // Jet 3 has no date mask: the date in the header must not change the result.
    QTest::newRow("jet3 none") << 0 << 1252 << created << QByteArray() << QString();
    QTest::newRow("jet3 eight") << 0 << 1252 << created << QByteArray("tqm507rw") << "tqm507rw";
    QTest::newRow("jet3 twenty, no end mark")
        << 0 << 1252 << created << QByteArray("abcdefghij0123456789") << "abcdefghij0123456789";
    QTest::newRow("jet3 code page 1252")
        << 0 << 1252 << created << QByteArray("s\xE8gr\x80t") << "sègr€t";
    QTest::newRow("jet3 code page 1251")
        << 0 << 1251 << 0.0 << QByteArray("\xCF\xE0\xF0\xEE\xEB\xFC") << "Пароль";
}

void JetPasswordTest::decodesPassword()
{
    QFETCH(int, version);
    QFETCH(int, codePage);
    QFETCH(double, created);
    QFETCH(QByteArray, stored);
    QFETCH(QString, expected);

    const QByteArray page = buildPage({char(version), quint16(codePage), created, stored});
    QVERIFY(Jet::hasAccessSignature(page));
    const std::optional<Jet::Header> header = Jet::readHeader(page);
    QVERIFY(header);
    QCOMPARE(header->format, version == 0 ? Jet::Format::Jet3 : Jet::Format::Jet4);
    QCOMPARE(header->codePage, quint16(codePage));
    QCOMPARE(header->password, expected);
    // Only the bytes up to the end of the header are needed.
    QCOMPARE(Jet::readHeader(page.first(Jet::HeaderBytes))->password, expected);
}

void JetPasswordTest::rejectsOtherFiles_data()
{
    QTest::addColumn<QByteArray>("page");

    const QByteArray jet4 = buildPage({1, 1252, 38143.5, ucs2("tqm507rw")});
    QByteArray ace = jet4;
    ace.replace(4, 15, "Standard ACE DB");
    ace[0x14] = 2;
    QByteArray unknownVersion = jet4;
    unknownVersion[0x14] = 7;
    QByteArray dataPage = jet4;
    dataPage[0] = 1;

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("CREATE TABLE num (numeri TEXT);\n").repeated(20);
    QTest::newRow("cut short") << jet4.first(Jet::HeaderBytes - 1);
    QTest::newRow("ace") << ace;
    QTest::newRow("unknown version") << unknownVersion;
    QTest::newRow("not the definition page") << dataPage;
}

void JetPasswordTest::rejectsOtherFiles()
{
    QFETCH(QByteArray, page);
    QVERIFY(!Jet::readHeader(page));
}

void JetPasswordTest::textCharset_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QByteArray>("charset");

    QTest::newRow("jet4") << 1 << 1251 << QByteArray("UCS-2LE");
    QTest::newRow("jet3 western") << 0 << 1252 << QByteArray("CP1252");
    QTest::newRow("jet3 cyrillic") << 0 << 1251 << QByteArray("CP1251");
    QTest::newRow("jet3 japanese") << 0 << 932 << QByteArray("CP932");
    QTest::newRow("jet3 unknown code page") << 0 << 0 << QByteArray("CP1252");
}

void JetPasswordTest::textCharset()
{
    QFETCH(int, version);
    QFETCH(int, codePage);
    QFETCH(QByteArray, charset);

    const auto header = Jet::readHeader(buildPage({char(version), quint16(codePage), 1.0, {}}));
    QVERIFY(header);
    QCOMPARE(Jet::textCharset(*header), charset);
}

QTEST_GUILESS_MAIN(JetPasswordTest)
#include "tst_jet_password.moc"
