#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// The key and signature files of the minisign tool, read and written with libsodium, so that a
// maker may sign with either minisign or kv402 bundle sign and anyone may check with either.
// Every file is text: an "untrusted comment:" line, then base64 lines.
namespace Kv402::Minisign {

inline constexpr int KeyIdSize = 8;
inline constexpr int PublicKeySize = 32;
inline constexpr int SecretKeySize = 64;
inline constexpr int SignatureSize = 64;

// A public key file: "Ed", the key id, the Ed25519 key.
struct PublicKey
{
    QByteArray keyId;
    QByteArray key;
};

// A signature file: "Ed" signs the file's bytes (the older form), "ED" its BLAKE2b-512 hash; the
// trusted comment is signed together with the signature (the global signature).
struct Signature
{
    QByteArray algorithm;
    QByteArray keyId;
    QByteArray signature;
    QByteArray trustedComment;
    QByteArray globalSignature;

    bool prehashed() const { return algorithm == "ED"; }
};

// A secret key file as stored: its key id, key and checksum encrypted with a key derived from
// the password by scrypt, or in the clear (minisign -G -W).
struct SecretKeyFile
{
    bool encrypted = false;
    QByteArray salt;
    quint64 opsLimit = 0;
    quint64 memLimit = 0;
    // Key id, secret key and checksum; encrypted when encrypted.
    QByteArray keyMaterial;
};

struct SecretKey
{
    QByteArray keyId;
    QByteArray key;
};

// Makes libsodium ready; false when it cannot be (no source of randomness).
bool initialise();

// The key id as minisign prints it: 16 upper-case hex digits.
QString keyIdText(const QByteArray &keyId);

// The readers return nothing, with why set, for text that is not such a file.
std::optional<PublicKey> readPublicKey(QByteArrayView text, QString *why);
std::optional<Signature> readSignature(QByteArrayView text, QString *why);
std::optional<SecretKeyFile> readSecretKeyFile(QByteArrayView text, QString *why);

// The secret key, decrypted with the password when the file is encrypted; nothing, with why set,
// when the password is wrong (the checksum does not match).
std::optional<SecretKey> unlock(const SecretKeyFile &file, QByteArrayView password, QString *why);

// Whether the signature is the key's over message and its trusted comment; why says what fails.
bool verify(const Signature &signature, const PublicKey &key, QByteArrayView message, QString *why);

// A prehashed ("ED") signature file of message, with its trusted comment.
QByteArray sign(const SecretKey &key, QByteArrayView message, const QByteArray &trustedComment);

} // namespace Kv402::Minisign
