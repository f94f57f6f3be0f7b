#pragma once

#include <QLatin1StringView>

namespace Kv402::Catalogue {

// The catalogue file, looked up in the current working directory and nowhere else.
inline constexpr QLatin1StringView FileName{"Versioni.mdb"};

// The catalogue password: the key of an SQLCipher catalogue, the database password of a Jet one.
inline constexpr QLatin1StringView Password{"tqm507rw"};

// SQLCipher 4 changed its default cipher settings; pinning the version 3 format keeps a catalogue
// readable by whichever SQLCipher opens it. SQLCipher 3 does not know the pragma and ignores it.
inline constexpr QLatin1StringView PinCipherFormat{"PRAGMA cipher_compatibility = 3;"};

inline constexpr QLatin1StringView RevisionTable{"num"};
// The revision list's text that stands for no firmware revision.
inline constexpr QLatin1StringView NoRevision{"Version"};
inline constexpr QLatin1StringView RevisionField{"numeri"};

// Versioni1 to Versioni5 belong to the firmware revisions "1" to "5".
inline constexpr QLatin1StringView VersionTablePrefix{"Versioni"};
inline constexpr QLatin1StringView VersionField{"Versione"};
inline constexpr QLatin1StringView LanguageField{"Lingua"};
inline constexpr QLatin1StringView FileField{"File"};
inline constexpr QLatin1StringView DevicesField{"Devices"};

} // namespace Kv402::Catalogue
