// The supervisor's PIN as the station keeps it: PBKDF2-HMAC-SHA256 against published test
// vectors, a stored text that matches its PIN alone, and stored texts that never match.

#include "station/pin_lock.h"

#include <QTest>

using namespace Kv402;

namespace {

// Few iterations: the rules do not depend on the count, and tests stay quick.
constexpr int Quick = 1000;

} // namespace

class PinLockTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void derivesTheTestVectors_data();
    void derivesTheTestVectors();
    void storedPinMatchesItsPinAlone_data();
    void storedPinMatchesItsPinAlone();
    void storedTextIsSaltedAndCounted();
    void damagedTextNeverMatches_data();
    void damagedTextNeverMatches();
};

void PinLockTest::derivesTheTestVectors_data()
{
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("salt");
    QTest::addColumn<int>("iterations");
    QTest::addColumn<QByteArray>("derived");

    // RFC 7914, section 11: PBKDF2-HMAC-SHA256, 64 bytes each.
    QTest::newRow("passwd, salt, 1")
        << QByteArray("passwd") << QByteArray("salt") << 1
        << QByteArray("55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
                      "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783");
    QTest::newRow("Password, NaCl, 80000")
        << QByteArray("Password") << QByteArray("NaCl") << 80000
        << QByteArray("4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
                      "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d");
}

void PinLockTest::derivesTheTestVectors()
{
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, salt);
    QFETCH(int, iterations);
    QFETCH(QByteArray, derived);

    QCOMPARE(pbkdf2HmacSha256(password, salt, iterations, 64).toHex(), derived);
    // A shorter key is the start of the longer one.
    QCOMPARE(pbkdf2HmacSha256(password, salt, iterations, 32).toHex(), derived.left(64));
}

void PinLockTest::storedPinMatchesItsPinAlone_data()
{
    QTest::addColumn<QString>("pin");
    QTest::addColumn<QStringList>("others");

    QTest::newRow("digits") << "4711" << QStringList{"4712", "47110", "0471", " 4711", ""};
    QTest::newRow("empty") << "" << QStringList{"0", " "};
    QTest::newRow("letters and accents") << "càffè-9" << QStringList{"caffe-9", "CÀFFÈ-9"};
}

void PinLockTest::storedPinMatchesItsPinAlone()
{
    QFETCH(QString, pin);
    QFETCH(QStringList, others);

    const QString stored = pinHash(pin, Quick);
    QVERIFY(pinMatches(pin, stored));
    for (const QString &other : others)
        QVERIFY2(!pinMatches(other, stored), qPrintable(other));
}

// The same PIN twice gives two texts, each with its own salt, and neither holds the PIN.
void PinLockTest::storedTextIsSaltedAndCounted()
{
    const QString first = pinHash("4711");
    const QString second = pinHash("4711");
    QVERIFY(first != second);
    QVERIFY(!first.contains("4711"));
    const QStringList parts = first.split('$');
    QCOMPARE(parts.size(), 4);
    QCOMPARE(parts.at(0), "pbkdf2-sha256");
    QCOMPARE(parts.at(1).toInt(), PinHash::Iterations);
    QCOMPARE(QByteArray::fromBase64(parts.at(2).toLatin1()).size(), PinHash::SaltSize);
    QCOMPARE(QByteArray::fromBase64(parts.at(3).toLatin1()).size(), PinHash::HashSize);
    QVERIFY(first.split('$').at(2) != second.split('$').at(2));
    QVERIFY(pinMatches("4711", first));
    QVERIFY(pinMatches("4711", second));
}

void PinLockTest::damagedTextNeverMatches_data()
{
    QTest::addColumn<QString>("stored");

    const QStringList good = pinHash("4711", Quick).split('$');
    const auto with = [&good](int part, const QString &text) {
        QStringList parts = good;
        parts[part] = text;
        return parts.join('$');
    };
    QTest::newRow("empty") << "";
    QTest::newRow("the PIN itself") << "4711";
    QTest::newRow("another scheme") << with(0, "pbkdf2-sha1");
    QTest::newRow("a part missing") << good.mid(0, 3).join('$');
    QTest::newRow("a part too many") << good.join('$') + "$x";
    QTest::newRow("another count") << with(1, QString::number(Quick + 1));
    QTest::newRow("count zero") << with(1, "0");
    QTest::newRow("negative count") << with(1, "-1000");
    QTest::newRow("count with a sign") << with(1, "+1000");
    QTest::newRow("count with a leading zero") << with(1, "01000");
    QTest::newRow("count with a blank") << with(1, " 1000");
    QTest::newRow("count beyond the limit") << with(1, "2000000000");
    QTest::newRow("count beyond int") << with(1, "99999999999");
    QTest::newRow("salt not base64") << with(2, "***");
    QTest::newRow("salt empty") << with(2, "");
    QTest::newRow("hash cut short") << with(3, good.at(3).left(20));
    QTest::newRow("hash of another salt") << with(2, pinHash("4711", Quick).split('$').at(2));
}

void PinLockTest::damagedTextNeverMatches()
{
    QFETCH(QString, stored);
    QVERIFY(!pinMatches("4711", stored));
}

QTEST_GUILESS_MAIN(PinLockTest)
#include "tst_pin_lock.moc"
