#include "catalogue/jet_reading.h"

// glib first: mdbtools.h includes it inside its extern "C" block, where glib's C++ parts fail.
#include <glib.h>
#include <mdbtools.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kv402::Jet {

namespace {

// The most UTF-8 bytes one field may take: a memo of 65,535 characters, the most Access lets a
// user type, fits.
constexpr size_t BindSize = 256 * 1024;
// libmdb stops converting a text where the buffer ends; a text this long may have been cut.
constexpr size_t LongestFieldBytes = BindSize - 5;

// Only the low 13 bits of an entry of a data page's row table give the row's place; the high
// bits are flags.
constexpr int RowOffsetMask = 0x1FFF;

// Date and time values read as text, the same whatever the user's locale.
constexpr char DateFormat[] = "%Y-%m-%d %H:%M:%S";
constexpr char ShortDateFormat[] = "%Y-%m-%d";

// The engine's table of objects, from which libmdb takes the list of tables.
constexpr std::string_view ObjectsTable{"MSysObjects"};
// libmdb takes debugging options from this variable, and those print.
constexpr char OptionsVariable[] = "MDBOPTS";

constexpr size_t ReplyBufferSize = 64 * 1024;

std::string_view nameOf(const char (&name)[MDB_MAX_OBJ_NAME + 1])
{
    return {name, strnlen(name, sizeof name)};
}

// The file as libmdb reads it: from memory, through a stream that notes any read reaching beyond
// the end. libmdb itself hands back such a page filled with zeros and reads on.
class PageSource
{
public:
    explicit PageSource(std::vector<char> &bytes)
        : m_bytes(bytes)
    {}

    // A new stream over the bytes. Its buffer is one page: libmdb reads whole pages from their
    // start, so every read that comes here is one page as libmdb asked for it. (Unbuffered, the
    // stream would come here for every byte.)
    FILE *open(size_t pageSize)
    {
        m_buffer.resize(pageSize);
        FILE *stream = fopencookie(this,
                                   "r",
                                   {&PageSource::read, nullptr, &PageSource::seek, nullptr});
        if (stream && std::setvbuf(stream, m_buffer.data(), _IOFBF, pageSize) != 0) {
            std::fclose(stream);
            return nullptr;
        }
        return stream;
    }

    bool readOutside() const { return m_outside; }

private:
    static ssize_t read(void *cookie, char *buffer, size_t size)
    {
        auto *source = static_cast<PageSource *>(cookie);
        const size_t end = source->m_bytes.size();
        const size_t available = source->m_position < end ? end - source->m_position : 0;
        if (size > available)
            source->m_outside = true;
        const size_t count = std::min(size, available);
        std::memcpy(buffer, source->m_bytes.data() + source->m_position, count);
        source->m_position += count;
        return ssize_t(count);
    }

    static int seek(void *cookie, off64_t *offset, int whence)
    {
        auto *source = static_cast<PageSource *>(cookie);
        off64_t base = 0;
        if (whence == SEEK_CUR)
            base = off64_t(source->m_position);
        else if (whence == SEEK_END)
            base = off64_t(source->m_bytes.size());
        if (*offset < -base) {
            errno = EINVAL;
            return -1;
        }
        *offset += base;
        source->m_position = size_t(*offset);
        return 0;
    }

    std::vector<char> &m_bytes;
    std::vector<char> m_buffer;
    size_t m_position = 0;
    bool m_outside = false;
};

// The reply, written in large pieces.
class ReplyWriter
{
public:
    explicit ReplyWriter(int descriptor)
        : m_descriptor(descriptor)
    {
        m_buffer.reserve(ReplyBufferSize);
    }

    void record(Record record) { put(&record, sizeof record); }
    void count(std::uint32_t count) { put(&count, sizeof count); }
    void text(std::string_view text)
    {
        count(std::uint32_t(text.size()));
        put(text.data(), text.size());
    }

    // Writes what is left; false when any write failed.
    bool flush()
    {
        const char *data = m_buffer.data();
        size_t left = m_buffer.size();
        while (left > 0 && !m_failed) {
            const ssize_t written = ::write(m_descriptor, data, left);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                m_failed = true;
                break;
            }
            data += written;
            left -= size_t(written);
        }
        m_buffer.clear();
        return !m_failed;
    }

private:
    void put(const void *data, size_t size)
    {
        const auto *bytes = static_cast<const char *>(data);
        m_buffer.insert(m_buffer.end(), bytes, bytes + size);
        if (m_buffer.size() >= ReplyBufferSize)
            flush();
    }

    int m_descriptor;
    std::vector<char> m_buffer;
    bool m_failed = false;
};

struct TableDefDeleter
{
    void operator()(MdbTableDef *table) const { mdb_free_tabledef(table); }
};
using TableDefinition = std::unique_ptr<MdbTableDef, TableDefDeleter>;

// One column as read: libmdb writes each row's value into the buffer. The buffer is left
// uninitialised, so that only the pages a value touches are ever mapped.
struct BoundColumn
{
    int index = 0; // in the table definition
    std::string_view name;
    bool isBoolean = false;
    std::unique_ptr<char[]> text = std::make_unique_for_overwrite<char[]>(BindSize);
    int length = 0;
};

bool hasText(const MdbColumn &column)
{
    return column.col_type != MDB_OLE && column.col_type != MDB_BINARY;
}

TableDefinition definitionOf(MdbCatalogEntry *entry)
{
    TableDefinition definition(mdb_read_table(entry));
    if (definition && !mdb_read_columns(definition.get()))
        definition.reset();
    return definition;
}

enum class Outcome { Read, TooLong, Damaged };

// libmdb passes over a page it cannot follow, or a row it cannot place, without a word: the
// table then comes back short. The definition counts the table's rows.
Outcome readTable(MdbHandle *mdb, MdbCatalogEntry *entry, ReplyWriter &reply)
{
    const TableDefinition definition = definitionOf(entry);
    if (!definition)
        return Outcome::Damaged;
    const std::string_view tableName = nameOf(entry->object_name);

    std::vector<BoundColumn> columns;
    std::vector<std::string_view> omitted;
    columns.reserve(definition->num_cols);
    for (guint i = 0; i < definition->num_cols; ++i) {
        const auto *column = static_cast<MdbColumn *>(g_ptr_array_index(definition->columns, i));
        if (!hasText(*column)) {
            omitted.push_back(nameOf(column->name));
            continue;
        }
        BoundColumn bound;
        bound.index = int(i);
        bound.name = nameOf(column->name);
        bound.isBoolean = column->col_type == MDB_BOOL;
        columns.push_back(std::move(bound));
    }
    reply.record(Record::Table);
    reply.text(tableName);
    reply.count(std::uint32_t(columns.size()));
    for (BoundColumn &column : columns) {
        reply.text(column.name);
        mdb_bind_column(definition.get(), column.index + 1, column.text.get(), &column.length);
    }
    // The columns without text are named, so that a dump can say what it leaves out.
    reply.count(std::uint32_t(omitted.size()));
    for (const std::string_view name : omitted)
        reply.text(name);

    std::vector<MdbField> fields(definition->num_cols);
    std::uint32_t rows = 0;
    mdb_rewind_table(definition.get());
    while (mdb_fetch_row(definition.get())) {
        // libmdb delivers a null field as the empty text; the row's null mask tells them apart.
        // The row just read is still on the current page, one before the table's row position.
        int start = 0;
        size_t size = 0;
        if (mdb_find_row(mdb, int(definition->cur_row) - 1, &start, &size) != 0
            || mdb_crack_row(definition.get(), start & RowOffsetMask, size, fields.data()) < 0) {
            return Outcome::Damaged;
        }
        ++rows;
        for (const BoundColumn &column : columns) {
            if (column.length < 0)
                return Outcome::Damaged;
            if (size_t(column.length) >= LongestFieldBytes) {
                reply.record(Record::TooLong);
                reply.text(tableName);
                reply.text(column.name);
                reply.count(rows);
                return Outcome::TooLong;
            }
        }
        reply.record(Record::Row);
        for (const BoundColumn &column : columns) {
            // A Yes/No field keeps its value in the null mask and is never null.
            if (fields[size_t(column.index)].is_null && !column.isBoolean) {
                reply.record(Record::Null);
            } else {
                reply.record(Record::Value);
                reply.text({column.text.get(), size_t(column.length)});
            }
        }
    }
    return rows == definition->num_rows ? Outcome::Read : Outcome::Damaged;
}

// The list of tables is read from the objects table as libmdb reads any table, and can come back
// short the same way.
bool objectsTableIsWhole(MdbHandle *mdb)
{
    for (guint i = 0; i < mdb->catalog->len; ++i) {
        auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type != MDB_TABLE || nameOf(entry->object_name) != ObjectsTable)
            continue;
        const TableDefinition definition = definitionOf(entry);
        if (!definition)
            return false;
        std::uint32_t rows = 0;
        mdb_rewind_table(definition.get());
        while (mdb_fetch_row(definition.get()))
            ++rows;
        return rows == definition->num_rows;
    }
    return false;
}

bool readWhole(int descriptor, std::vector<char> &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::pread(descriptor,
                                      bytes.data() + done,
                                      bytes.size() - done,
                                      off_t(done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false; // a read error, or the file grew shorter
        done += size_t(count);
    }
    return true;
}

// libmdb reports much of what it cannot read by printing it and reading on. Everything printed
// here goes to a file of its own; anything in it means damage.
int captureMessages()
{
    const int messages = memfd_create("kv402-jet-messages", MFD_CLOEXEC);
    if (messages < 0 || ::dup2(messages, STDOUT_FILENO) < 0 || ::dup2(messages, STDERR_FILENO) < 0) {
        return -1;
    }
    return messages;
}

bool printedAnything(int messages)
{
    std::fflush(stdout);
    std::fflush(stderr);
    struct stat status = {};
    return ::fstat(messages, &status) != 0 || status.st_size > 0;
}

int readEverything(const ReadingSetup &setup)
{
    const int messages = captureMessages();
    if (messages < 0)
        return FileDamaged;
    ::unsetenv(OptionsVariable);
    // libmdb formats numbers and dates with printf and strftime: in the C locale they read the
    // same whatever locale the user or the toolkit has set.
    uselocale(setup.cLocale);

    std::vector<char> bytes(setup.size);
    if (!readWhole(setup.file, bytes))
        return FileDamaged;
    PageSource pages(bytes);
    MdbHandle *mdb = mdb_open_buffer(bytes.data(), bytes.size(), MDB_NOFLAGS);
    if (!mdb)
        return FileDamaged;
    FILE *checked = pages.open(setup.pageSize);
    if (!checked)
        return FileDamaged;
    std::fclose(mdb->f->stream);
    mdb->f->stream = checked;

    // libmdb picks its text converters from environment variables; these are fixed instead.
    mdb_iconv_close(mdb);
    mdb->iconv_in = setup.toUtf8;
    mdb->iconv_out = setup.fromUtf8;
    mdb_set_date_fmt(mdb, DateFormat);
    mdb_set_shortdate_fmt(mdb, ShortDateFormat);
    mdb_set_boolean_fmt_numbers(mdb);

    if (!mdb_read_catalog(mdb, MDB_TABLE) || !objectsTableIsWhole(mdb))
        return FileDamaged;
    // Only now: libmdb reads its catalog into buffers of the default size.
    mdb_set_bind_size(mdb, BindSize);

    ReplyWriter reply(setup.reply);
    for (guint i = 0; i < mdb->catalog->len; ++i) {
        auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
        if (!mdb_is_user_table(entry))
            continue;
        const Outcome outcome = readTable(mdb, entry, reply);
        if (outcome == Outcome::Damaged)
            return FileDamaged;
        if (outcome == Outcome::TooLong)
            break;
    }
    if (pages.readOutside() || printedAnything(messages))
        return FileDamaged;
    reply.record(Record::End);
    // Nothing is freed: the process ends now.
    return reply.flush() ? ReplyComplete : FileDamaged;
}

} // namespace

int readEveryTable(const ReadingSetup &setup) noexcept
{
    try {
        return readEverything(setup);
    } catch (...) {
        return FileDamaged; // out of memory
    }
}

} // namespace Kv402::Jet
