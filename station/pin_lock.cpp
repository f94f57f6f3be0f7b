#include "station/pin_lock.h"

#include <QList>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QtEndian>

#include <algorithm>
#include <optional>

namespace Kv402 {

namespace {

const QLatin1StringView Scheme{"pbkdf2-sha256"};
const QLatin1Char Separator{'$'};

struct StoredPin
{
    int iterations = 0;
    QByteArray salt;
    QByteArray hash;
};

std::optional<QByteArray> strictBase64(QStringView text)
{
    const QByteArray::FromBase64Result decoded
        = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return std::nullopt;
    return decoded.decoded;
}

std::optional<StoredPin> parse(const QString &stored)
{
    const QList<QStringView> parts = QStringView(stored).split(Separator);
    if (parts.size() != 4 || parts.at(0) != Scheme)
        return std::nullopt;
    // Digits only: no sign, no blank, no leading zero.
    const QStringView count = parts.at(1);
    if (count.isEmpty() || count.startsWith(QLatin1Char('0')))
        return std::nullopt;
    for (const QChar c : count) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    const int iterations = count.toInt(&ok);
    if (!ok || iterations > PinHash::MaxIterations)
        return std::nullopt;
    const std::optional<QByteArray> salt = strictBase64(parts.at(2));
    const std::optional<QByteArray> hash = strictBase64(parts.at(3));
    if (!salt || !hash || hash->size() != PinHash::HashSize)
        return std::nullopt;
    return StoredPin{iterations, *salt, *hash};
}

// Takes as long whatever the bytes are.
bool equalInConstantTime(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a.at(i) ^ b.at(i));
    return difference == 0;
}

} // namespace

QByteArray pbkdf2HmacSha256(const QByteArray &password,
                            const QByteArray &salt,
                            int iterations,
                            int length)
{
    QByteArray derived;
    if (iterations < 1 || length < 1)
        return derived;
    QMessageAuthenticationCode mac(QCryptographicHash::Sha256, password);
    for (quint32 block = 1; derived.size() < length; ++block) {
        char index[4];
        qToBigEndian(block, index);
        mac.reset();
        mac.addData(salt);
        mac.addData(index, sizeof index);
        QByteArray u = mac.result();
        QByteArray t = u;
        for (int i = 1; i < iterations; ++i) {
            mac.reset();
            mac.addData(u);
            u = mac.result();
            for (qsizetype j = 0; j < t.size(); ++j)
                t[j] = char(t.at(j) ^ u.at(j));
        }
        derived += t;
    }
    derived.truncate(length);
    return derived;
}

QString pinHash(const QString &pin, int iterations)
{
    static_assert(PinHash::SaltSize % sizeof(quint32) == 0);
    iterations = std::clamp(iterations, 1, PinHash::MaxIterations);
    QByteArray salt(PinHash::SaltSize, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(salt.data()),
                                          PinHash::SaltSize / int(sizeof(quint32)));
    const QByteArray hash = pbkdf2HmacSha256(pin.toUtf8(), salt, iterations, PinHash::HashSize);
    return QStringList{Scheme,
                       QString::number(iterations),
                       QString::fromLatin1(salt.toBase64()),
                       QString::fromLatin1(hash.toBase64())}
        .join(Separator);
}

bool pinMatches(const QString &pin, const QString &stored)
{
    const std::optional<StoredPin> parsed = parse(stored);
    if (!parsed)
        return false;
    return equalInConstantTime(pbkdf2HmacSha256(pin.toUtf8(),
                                                parsed->salt,
                                                parsed->iterations,
                                                PinHash::HashSize),
                               parsed->hash);
}

} // namespace Kv402
