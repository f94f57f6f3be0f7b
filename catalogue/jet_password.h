#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace Kv402::Jet {

// The Access file formats whose first page the program understands: Jet 3 (Access 97) and Jet 4
// (Access 2000 to 2003).
enum class Format { Jet3, Jet4 };

// The bytes at the start of an Access file that readHeader() needs.
inline constexpr qsizetype HeaderBytes = 0x98;

// What the first page of an Access file says before any table is read.
struct Header
{
    Format format = Format::Jet4;
    // The file's Windows code page: the texts of a Jet 3 file are stored in it.
    quint16 codePage = 0;
    // The database password; empty when the file has none.
    QString password;
};

// The size of every page of a file of this format: a sound file is a whole number of pages.
qsizetype pageSize(Format format);

// True when the first bytes of a file name an Access database engine (Jet or ACE).
bool hasAccessSignature(QByteArrayView head);
// True when they name the ACE engine of Access 2007 and later.
bool hasAceSignature(QByteArrayView head);

// RC4 of the data under the key. The cipher is its own inverse. An empty key leaves the data as
// it is.
QByteArray rc4(QByteArrayView key, QByteArrayView data);

// Reads the header of a Jet 3 or Jet 4 file from its first bytes as stored (scrambled): the
// format, the code page and the database password. std::nullopt when the bytes are not the
// first page of such a file.
std::optional<Header> readHeader(QByteArrayView page);

// The iconv name of the character set in which a file of this header stores its texts.
QByteArray textCharset(const Header &header);

} // namespace Kv402::Jet
