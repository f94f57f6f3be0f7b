#pragma once

// The reading of an Access catalogue through libmdb, which runs in a process of its own: libmdb
// follows the pages of a file without checks, and a damaged file can make it crash or loop. This
// header is shared by that process and the program that starts it; the reading itself uses no Qt
// and no threads, only libc, glib, iconv and libmdb.

#include <cstddef>

#include <iconv.h>
#include <locale.h>

namespace Kv402::Jet {

// How the reading process ends: with its reply complete, or having found the file damaged (libmdb
// failed or printed a warning, a page lay outside the file, or a table had fewer or more rows
// than its definition counts). Any other end is taken as damage too.
inline constexpr int ReplyComplete = 0;
inline constexpr int FileDamaged = 3;

// The reply: every user table in the order of the file's catalog, then End. Counts and lengths
// are 32-bit unsigned in the machine's byte order (both ends are the same program); a text is its
// length, then its UTF-8 bytes.
//   Table name, column count, column names; then one Row per row: a Null or a Value text for
//   each column.
//   TooLong table, column, row number: a field too long to read whole; the reply ends after it.
enum class Record : char {
    Table = 'T',
    Row = 'R',
    Null = 'N',
    Value = 'V',
    TooLong = 'L',
    End = 'E',
};

struct ReadingSetup
{
    int file = -1;        // the catalogue, a regular file
    std::size_t size = 0; // its size, a whole number of pages
    std::size_t pageSize = 0;
    iconv_t toUtf8{};      // from the character set of the file's texts
    iconv_t fromUtf8{};    // and back, which libmdb wants as well
    locale_t cLocale = {}; // libmdb writes numbers and dates in the locale
    int reply = -1;        // where the reply goes
};

// Reads every user table of the file and writes the reply. Runs in the reading process only: it
// takes over that process's standard output and error to see libmdb's warnings. Returns the
// process's exit status.
int readEveryTable(const ReadingSetup &setup) noexcept;

} // namespace Kv402::Jet
