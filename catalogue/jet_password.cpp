#include "catalogue/jet_password.h"

#include <QtEndian>

#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

#include <iconv.h>

namespace Kv402::Jet {

namespace {

// The engine's name at offset 4 of the first page.
constexpr qsizetype SignatureOffset = 4;
constexpr QByteArrayView JetSignature{"Standard Jet DB"};
constexpr QByteArrayView AceSignature{"Standard ACE DB"};

// The first byte of the first page: its page type, 0 for the database definition page.
constexpr char DefinitionPageType = 0;

constexpr qsizetype VersionOffset = 0x14;
constexpr char Jet3Version = 0;
constexpr char Jet4Version = 1;

// The header from 0x18 on is scrambled with RC4 under a fixed key, over 126 bytes in Jet 3 and
// 128 bytes in Jet 4.
constexpr qsizetype ScrambledOffset = 0x18;
constexpr qsizetype Jet3ScrambledLength = 126;
constexpr qsizetype Jet4ScrambledLength = 128;
constexpr std::array<char, 4> ScrambleKey{'\xC7', '\xDA', '\x39', '\x6B'};

constexpr qsizetype Jet3PageSize = 2048;
constexpr qsizetype Jet4PageSize = 4096;

constexpr qsizetype CodePageOffset = 0x3C;

// The password: 20 bytes in the code page (Jet 3) or 20 UCS-2 characters (Jet 4), ended by the
// first NUL when shorter.
constexpr qsizetype PasswordOffset = 0x42;
constexpr qsizetype Jet3PasswordLength = 20;
constexpr qsizetype Jet4PasswordLength = 40;

// Jet 4 also masks the password with the whole-day part of the creation date, a double.
constexpr qsizetype CreationDateOffset = 0x72;

// Used when the code page of a Jet 3 file has no converter, as the engine itself does.
constexpr char FallbackCharset[] = "CP1252";
constexpr char Ucs2Charset[] = "UCS-2LE";
constexpr char Utf8Charset[] = "UTF-8";

static_assert(ScrambledOffset + Jet4ScrambledLength <= HeaderBytes);

QByteArrayView signatureOf(QByteArrayView head)
{
    if (head.size() < SignatureOffset + JetSignature.size())
        return {};
    return head.sliced(SignatureOffset, JetSignature.size());
}

// The day count as the engine takes it: truncated toward zero to 32 bits. A date beyond that
// range cannot come from Access; clamping keeps the conversion defined for a damaged header.
qint32 wholeDays(double days)
{
    if (std::isnan(days))
        return 0;
    if (days <= double(std::numeric_limits<qint32>::min()))
        return std::numeric_limits<qint32>::min();
    if (days >= double(std::numeric_limits<qint32>::max()))
        return std::numeric_limits<qint32>::max();
    return qint32(days);
}

bool canConvert(const char *charset)
{
    const iconv_t probe = iconv_open(Utf8Charset, charset);
    if (probe == iconv_t(-1))
        return false;
    iconv_close(probe);
    return true;
}

// Bytes of a single-byte or multi-byte code page as text. A byte sequence without a character
// becomes U+FFFD, so a damaged header still decodes to some text.
QString decode(QByteArrayView bytes, const QByteArray &charset)
{
    const iconv_t converter = iconv_open(Utf8Charset, charset.constData());
    if (converter == iconv_t(-1))
        return QString::fromLatin1(bytes);
    QByteArray in(bytes.data(), bytes.size());
    // Each byte of the code pages Access uses becomes at most four bytes of UTF-8.
    QByteArray out(4 * in.size() + 4, Qt::Uninitialized);
    char *inPtr = in.data();
    size_t inLeft = size_t(in.size());
    char *outPtr = out.data();
    size_t outLeft = size_t(out.size());
    QString text;
    while (inLeft > 0) {
        if (iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) != size_t(-1))
            break;
        text += QString::fromUtf8(out.constData(), outPtr - out.constData());
        text += QChar::ReplacementCharacter;
        outPtr = out.data();
        outLeft = size_t(out.size());
        ++inPtr;
        --inLeft;
    }
    iconv_close(converter);
    return text + QString::fromUtf8(out.constData(), outPtr - out.constData());
}

QString jet3Password(QByteArrayView header, const QByteArray &charset)
{
    QByteArrayView bytes = header.sliced(PasswordOffset, Jet3PasswordLength);
    if (const qsizetype end = bytes.indexOf('\0'); end >= 0)
        bytes = bytes.first(end);
    return decode(bytes, charset);
}

QString jet4Password(QByteArrayView header)
{
    const double created = std::bit_cast<double>(
        qFromLittleEndian<quint64>(header.data() + CreationDateOffset));
    const auto mask = quint32(wholeDays(created));
    QString password;
    for (qsizetype i = 0; i < Jet4PasswordLength; i += 2) {
        // Each byte is XORed with the byte of the little-endian day count at the same place mod 4.
        const auto low = quint8(quint8(header.at(PasswordOffset + i)) ^ (mask >> (8 * (i % 4))));
        const auto high = quint8(quint8(header.at(PasswordOffset + i + 1))
                                 ^ (mask >> (8 * ((i + 1) % 4))));
        const auto unit = char16_t(low | high << 8);
        if (unit == 0)
            break;
        password.append(QChar(unit));
    }
    return password;
}

} // namespace

qsizetype pageSize(Format format)
{
    return format == Format::Jet3 ? Jet3PageSize : Jet4PageSize;
}

bool hasAccessSignature(QByteArrayView head)
{
    const QByteArrayView signature = signatureOf(head);
    return signature == JetSignature || signature == AceSignature;
}

bool hasAceSignature(QByteArrayView head)
{
    return signatureOf(head) == AceSignature;
}

QByteArray rc4(QByteArrayView key, QByteArrayView data)
{
    QByteArray out(data.data(), data.size());
    if (key.isEmpty())
        return out;
    std::array<quint8, 256> state;
    std::iota(state.begin(), state.end(), quint8(0));
    // Key schedule, then one keystream byte XORed into each data byte.
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + state[i] + quint8(key[i % key.size()])) & 0xFF;
        std::swap(state[i], state[j]);
    }
    int i = 0;
    int j = 0;
    for (char &byte : out) {
        i = (i + 1) & 0xFF;
        j = (j + state[i]) & 0xFF;
        std::swap(state[i], state[j]);
        byte = char(quint8(byte) ^ state[(state[i] + state[j]) & 0xFF]);
    }
    return out;
}

std::optional<Header> readHeader(QByteArrayView page)
{
    if (page.size() < HeaderBytes || page.at(0) != DefinitionPageType
        || signatureOf(page) != JetSignature) {
        return std::nullopt;
    }
    Header header;
    qsizetype scrambled = 0;
    switch (page.at(VersionOffset)) {
    case Jet3Version:
        header.format = Format::Jet3;
        scrambled = Jet3ScrambledLength;
        break;
    case Jet4Version:
        header.format = Format::Jet4;
        scrambled = Jet4ScrambledLength;
        break;
    default:
        return std::nullopt;
    }

    QByteArray plain = page.first(HeaderBytes).toByteArray();
    plain.replace(ScrambledOffset,
                  scrambled,
                  rc4(QByteArrayView(ScrambleKey.data(), ScrambleKey.size()),
                      page.sliced(ScrambledOffset, scrambled)));
    header.codePage = qFromLittleEndian<quint16>(plain.constData() + CodePageOffset);
    header.password = header.format == Format::Jet3 ? jet3Password(plain, textCharset(header))
                                                    : jet4Password(plain);
    return header;
}

QByteArray textCharset(const Header &header)
{
    if (header.format == Format::Jet4)
        return Ucs2Charset;
    // glibc knows every Windows code page that Access uses under the name "CP" and its number.
    const QByteArray charset = "CP" + QByteArray::number(header.codePage);
    return canConvert(charset.constData()) ? charset : QByteArray(FallbackCharset);
}

} // namespace Kv402::Jet
