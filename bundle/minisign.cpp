#include "bundle/minisign.h"

#include <QList>

#include <sodium.h>

#include <cstring>

namespace Kv402::Minisign {

namespace {

const QByteArray UntrustedPrefix = "untrusted comment:";
const QByteArray TrustedPrefix = "trusted comment: ";
const QByteArray Ed25519 = "Ed";
const QByteArray Prehashed = "ED";
const QByteArray Scrypt = "Sc";
const QByteArray NoKdf = QByteArray(2, '\0');
const QByteArray Blake2b = "B2";

constexpr int SaltSize = crypto_pwhash_scryptsalsa208sha256_SALTBYTES;
constexpr int ChecksumSize = crypto_generichash_BYTES;
constexpr int KeyMaterialSize = KeyIdSize + SecretKeySize + ChecksumSize;
// "Ed", the KDF and checksum algorithms, salt, two limits, the key material.
constexpr int SecretKeyFileSize = 2 + 2 + 2 + SaltSize + 8 + 8 + KeyMaterialSize;

// The file's lines without their line ends; a last empty line is no line.
QList<QByteArray> linesOf(QByteArrayView text)
{
    QList<QByteArray> lines = text.toByteArray().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

std::optional<QByteArray> decoded(const QByteArray &line, qsizetype size)
{
    const auto result = QByteArray::fromBase64Encoding(line.trimmed(),
                                                       QByteArray::AbortOnBase64DecodingErrors);
    if (!result || result.decoded.size() != size)
        return std::nullopt;
    return result.decoded;
}

quint64 littleEndian(const char *bytes)
{
    quint64 value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | quint8(bytes[i]);
    return value;
}

QByteArray checksumOf(const QByteArray &algorithm, const QByteArray &keyId, const QByteArray &key)
{
    QByteArray checksum(ChecksumSize, '\0');
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, ChecksumSize);
    for (const QByteArray *part : {&algorithm, &keyId, &key})
        crypto_generichash_update(&state,
                                  reinterpret_cast<const unsigned char *>(part->constData()),
                                  size_t(part->size()));
    crypto_generichash_final(&state,
                             reinterpret_cast<unsigned char *>(checksum.data()),
                             ChecksumSize);
    return checksum;
}

QByteArray blake2b512(QByteArrayView message)
{
    QByteArray hash(crypto_generichash_BYTES_MAX, '\0');
    crypto_generichash(reinterpret_cast<unsigned char *>(hash.data()),
                       size_t(hash.size()),
                       reinterpret_cast<const unsigned char *>(message.data()),
                       size_t(message.size()),
                       nullptr,
                       0);
    return hash;
}

bool verifyDetached(const QByteArray &signature, QByteArrayView message, const QByteArray &key)
{
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(
                                           signature.constData()),
                                       reinterpret_cast<const unsigned char *>(message.data()),
                                       size_t(message.size()),
                                       reinterpret_cast<const unsigned char *>(key.constData()))
           == 0;
}

QByteArray signDetached(QByteArrayView message, const QByteArray &key)
{
    QByteArray signature(SignatureSize, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()),
                         nullptr,
                         reinterpret_cast<const unsigned char *>(message.data()),
                         size_t(message.size()),
                         reinterpret_cast<const unsigned char *>(key.constData()));
    return signature;
}

template<typename T>
std::optional<T> refuse(QString *why, const char *reason)
{
    if (why)
        *why = QString::fromUtf8(reason);
    return std::nullopt;
}

} // namespace

bool initialise()
{
    return sodium_init() >= 0;
}

QString keyIdText(const QByteArray &keyId)
{
    QByteArray reversed = keyId;
    std::reverse(reversed.begin(), reversed.end());
    return QString::fromLatin1(reversed.toHex().toUpper());
}

std::optional<PublicKey> readPublicKey(QByteArrayView text, QString *why)
{
    const QList<QByteArray> lines = linesOf(text);
    if (lines.size() != 2 || !lines.at(0).startsWith(UntrustedPrefix))
        return refuse<PublicKey>(why, "not a minisign public key (two lines)");
    const std::optional<QByteArray> bytes = decoded(lines.at(1), 2 + KeyIdSize + PublicKeySize);
    if (!bytes || !bytes->startsWith(Ed25519))
        return refuse<PublicKey>(why, "not a minisign Ed25519 public key");
    return PublicKey{bytes->mid(2, KeyIdSize), bytes->mid(2 + KeyIdSize)};
}

std::optional<Signature> readSignature(QByteArrayView text, QString *why)
{
    const QList<QByteArray> lines = linesOf(text);
    if (lines.size() != 4 || !lines.at(0).startsWith(UntrustedPrefix)
        || !lines.at(2).startsWith(TrustedPrefix)) {
        return refuse<Signature>(why, "not a minisign signature (four lines with two comments)");
    }
    const std::optional<QByteArray> bytes = decoded(lines.at(1), 2 + KeyIdSize + SignatureSize);
    const std::optional<QByteArray> global = decoded(lines.at(3), SignatureSize);
    if (!bytes || !global)
        return refuse<Signature>(why, "its signature lines are not base64 of the right length");
    const QByteArray algorithm = bytes->left(2);
    if (algorithm != Ed25519 && algorithm != Prehashed)
        return refuse<Signature>(why, "its algorithm is neither Ed nor ED");
    return Signature{algorithm,
                     bytes->mid(2, KeyIdSize),
                     bytes->mid(2 + KeyIdSize),
                     lines.at(2).mid(TrustedPrefix.size()),
                     *global};
}

std::optional<SecretKeyFile> readSecretKeyFile(QByteArrayView text, QString *why)
{
    const QList<QByteArray> lines = linesOf(text);
    if (lines.size() != 2 || !lines.at(0).startsWith(UntrustedPrefix))
        return refuse<SecretKeyFile>(why, "not a minisign secret key (two lines)");
    const std::optional<QByteArray> bytes = decoded(lines.at(1), SecretKeyFileSize);
    if (!bytes || !bytes->startsWith(Ed25519) || bytes->mid(4, 2) != Blake2b)
        return refuse<SecretKeyFile>(why, "not a minisign Ed25519 secret key");
    const QByteArray kdf = bytes->mid(2, 2);
    if (kdf != Scrypt && kdf != NoKdf)
        return refuse<SecretKeyFile>(why,
                                     "its key is protected in a way this program does not know");
    SecretKeyFile file;
    file.encrypted = kdf == Scrypt;
    file.salt = bytes->mid(6, SaltSize);
    file.opsLimit = littleEndian(bytes->constData() + 6 + SaltSize);
    file.memLimit = littleEndian(bytes->constData() + 6 + SaltSize + 8);
    file.keyMaterial = bytes->mid(6 + SaltSize + 16);
    return file;
}

std::optional<SecretKey> unlock(const SecretKeyFile &file, QByteArrayView password, QString *why)
{
    QByteArray material = file.keyMaterial;
    if (file.encrypted) {
        QByteArray stream(KeyMaterialSize, '\0');
        if (crypto_pwhash_scryptsalsa208sha256(reinterpret_cast<unsigned char *>(stream.data()),
                                               size_t(stream.size()),
                                               password.data(),
                                               size_t(password.size()),
                                               reinterpret_cast<const unsigned char *>(
                                                   file.salt.constData()),
                                               file.opsLimit,
                                               size_t(file.memLimit))
            != 0) {
            return refuse<SecretKey>(why,
                                     "the key could not be derived from the password (out of "
                                     "memory)");
        }
        for (qsizetype i = 0; i < material.size(); ++i)
            material[i] = char(material.at(i) ^ stream.at(i));
        sodium_memzero(stream.data(), size_t(stream.size()));
    }
    SecretKey key{material.left(KeyIdSize), material.mid(KeyIdSize, SecretKeySize)};
    const QByteArray checksum = material.mid(KeyIdSize + SecretKeySize);
    sodium_memzero(material.data(), size_t(material.size()));
    // minisign -G -W leaves the checksum of a key in the clear empty.
    const bool unchecked = !file.encrypted && checksum == QByteArray(ChecksumSize, '\0');
    if (!unchecked && checksum != checksumOf(Ed25519, key.keyId, key.key)) {
        return refuse<SecretKey>(why,
                                 file.encrypted ? "wrong password" : "its checksum does not match");
    }
    return key;
}

bool verify(const Signature &signature, const PublicKey &key, QByteArrayView message, QString *why)
{
    const auto fail = [why](const char *reason) {
        if (why)
            *why = QString::fromUtf8(reason);
        return false;
    };
    if (signature.keyId != key.keyId)
        return fail("it was made with another key");
    const bool sound = signature.prehashed()
                           ? verifyDetached(signature.signature, blake2b512(message), key.key)
                           : verifyDetached(signature.signature, message, key.key);
    if (!sound)
        return fail("the signature does not match the file");
    if (!verifyDetached(signature.globalSignature,
                        signature.signature + signature.trustedComment,
                        key.key)) {
        return fail("the signature of its trusted comment does not match");
    }
    return true;
}

QByteArray sign(const SecretKey &key, QByteArrayView message, const QByteArray &trustedComment)
{
    const QByteArray signature = signDetached(blake2b512(message), key.key);
    const QByteArray global = signDetached(signature + trustedComment, key.key);
    return UntrustedPrefix + " signature from kv402 bundle sign, key "
           + keyIdText(key.keyId).toLatin1() + '\n' + (Prehashed + key.keyId + signature).toBase64()
           + '\n' + TrustedPrefix + trustedComment + '\n' + global.toBase64() + '\n';
}

} // namespace Kv402::Minisign
