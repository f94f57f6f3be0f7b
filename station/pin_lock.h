#pragma once

#include <QByteArray>
#include <QString>

// The supervisor's PIN that locks a station, kept as a salted hash: the settings hold
// "pbkdf2-sha256$<iterations>$<salt base64>$<hash base64>", never the PIN.
namespace Kv402 {

namespace PinHash {
// Slow enough that guessing a short PIN from a copied settings file takes long; a check takes a
// fraction of a second.
inline constexpr int Iterations = 210'000;
// A stored count beyond this is taken for a damaged text: a check must not hang the window.
inline constexpr int MaxIterations = 10'000'000;
inline constexpr int SaltSize = 16;
inline constexpr int HashSize = 32;
} // namespace PinHash

// PBKDF2 with HMAC-SHA-256: length bytes derived from the password and the salt.
QByteArray pbkdf2HmacSha256(const QByteArray &password,
                            const QByteArray &salt,
                            int iterations,
                            int length);

// The text the settings keep for a PIN: a fresh random salt each time.
QString pinHash(const QString &pin, int iterations = PinHash::Iterations);

// Whether the PIN is the one the stored text was made from. A stored text that does not parse
// never matches; the hashes are compared in constant time.
bool pinMatches(const QString &pin, const QString &stored);

} // namespace Kv402
