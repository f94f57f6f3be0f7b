#include "catalogue/jet_storage.h"

#include "catalogue/catalogue_error.h"
#include "catalogue/jet_password.h"

#include <QFile>
#include <QFileInfo>

// glib first: mdbtools.h includes it inside its extern "C" block, where glib's C++ parts fail.
#include <glib.h>
#include <mdbtools.h>

#include <iconv.h>
#include <locale.h>

#include <memory>
#include <vector>

namespace Kv402 {

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
constexpr char Utf8Charset[] = "UTF-8";

// libmdb formats numbers and dates with printf and strftime: in the C locale they read the same
// whatever locale the user or the toolkit has set. The switch is for this thread only.
class ScopedLocale
{
public:
    explicit ScopedLocale(locale_t locale)
        : m_previous(locale ? uselocale(locale) : locale_t(nullptr))
    {}
    ~ScopedLocale()
    {
        if (m_previous)
            uselocale(m_previous);
    }

    ScopedLocale(const ScopedLocale &) = delete;
    ScopedLocale &operator=(const ScopedLocale &) = delete;

private:
    locale_t m_previous;
};

struct TableDefDeleter
{
    void operator()(MdbTableDef *table) const { mdb_free_tabledef(table); }
};

// One column as read: libmdb writes each row's value into the buffer. The buffer is left
// uninitialised, so that only the pages a value touches are ever mapped.
struct BoundColumn
{
    int index = 0; // in the table definition
    QString name;
    bool isBoolean = false;
    std::unique_ptr<char[]> text = std::make_unique_for_overwrite<char[]>(BindSize);
    int length = 0;
};

bool hasText(const MdbColumn &column)
{
    return column.col_type != MDB_OLE && column.col_type != MDB_BINARY;
}

CatalogueError unreadableTable(const QString &fileName, const QString &table)
{
    return CatalogueError(QStringLiteral("Cannot read the table \"%1\" of the catalogue \"%2\".")
                              .arg(table, fileName));
}

} // namespace

struct JetStorage::Database
{
    Database()
        : cLocale(newlocale(LC_ALL_MASK, "C", locale_t(nullptr)))
    {}
    ~Database()
    {
        if (mdb)
            mdb_close(mdb);
        if (cLocale)
            freelocale(cLocale);
    }

    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    MdbCatalogEntry *userTable(const QString &name) const;

    locale_t cLocale = locale_t(nullptr);
    MdbHandle *mdb = nullptr;
};

MdbCatalogEntry *JetStorage::Database::userTable(const QString &name) const
{
    for (guint i = 0; mdb->catalog && i < mdb->catalog->len; ++i) {
        auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
        // Table names compare without regard to case, as the engine does.
        if (mdb_is_user_table(entry)
            && QString::fromUtf8(entry->object_name).compare(name, Qt::CaseInsensitive) == 0) {
            return entry;
        }
    }
    return nullptr;
}

JetStorage::JetStorage(const QString &fileName, const QString &password)
    : m_fileName(QFileInfo(fileName).absoluteFilePath())
    , m_db(std::make_unique<Database>())
{
    QFile file(m_fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        throw CatalogueError(QStringLiteral("Cannot open the catalogue \"%1\": %2.")
                                 .arg(m_fileName, file.errorString()));
    }
    const QByteArray head = file.read(Jet::HeaderBytes);
    file.close();
    if (Jet::hasAceSignature(head)) {
        throw CatalogueError(QStringLiteral("Cannot open the catalogue \"%1\": it is a database of "
                                            "Access 2007 or later, which cannot be read.")
                                 .arg(m_fileName));
    }
    // A different password is refused like a wrong key; a file without one opens, as it did with
    // the engine the catalogue was made for.
    const std::optional<Jet::Header> header = Jet::readHeader(head);
    if (!header || (!header->password.isEmpty() && header->password != password))
        throw notACatalogue(m_fileName);

    const ScopedLocale c(m_db->cLocale);
    m_db->mdb = mdb_open(QFile::encodeName(m_fileName).constData(), MDB_NOFLAGS);
    if (!m_db->mdb)
        throw notACatalogue(m_fileName);
    MdbHandle *mdb = m_db->mdb;

    // libmdb picks its text converters from environment variables; these are fixed instead.
    const QByteArray charset = Jet::textCharset(*header);
    mdb_iconv_close(mdb);
    mdb->iconv_in = iconv_open(Utf8Charset, charset.constData());
    mdb->iconv_out = iconv_open(charset.constData(), Utf8Charset);
    if (mdb->iconv_in == iconv_t(-1)) {
        throw CatalogueError(
            QStringLiteral("Cannot open the catalogue \"%1\": its texts in %2 cannot be converted.")
                .arg(m_fileName, QString::fromLatin1(charset)));
    }
    mdb_set_date_fmt(mdb, DateFormat);
    mdb_set_shortdate_fmt(mdb, ShortDateFormat);
    mdb_set_boolean_fmt_numbers(mdb);

    if (!mdb_read_catalog(mdb, MDB_TABLE))
        throw notACatalogue(m_fileName);
    // Only now: libmdb reads its catalog into buffers of the default size.
    mdb_set_bind_size(mdb, BindSize);
}

JetStorage::~JetStorage() = default;

QStringList JetStorage::tableNames() const
{
    const MdbHandle *mdb = m_db->mdb;
    QStringList names;
    for (guint i = 0; mdb->catalog && i < mdb->catalog->len; ++i) {
        auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
        if (mdb_is_user_table(entry))
            names.append(QString::fromUtf8(entry->object_name));
    }
    return names;
}

TableData JetStorage::readTable(const QString &table) const
{
    MdbHandle *mdb = m_db->mdb;
    const ScopedLocale c(m_db->cLocale);

    MdbCatalogEntry *entry = m_db->userTable(table);
    if (!entry)
        throw missingTable(m_fileName, table);
    TableData data;
    data.name = QString::fromUtf8(entry->object_name);

    const std::unique_ptr<MdbTableDef, TableDefDeleter> definition(mdb_read_table(entry));
    if (!definition || !mdb_read_columns(definition.get()))
        throw unreadableTable(m_fileName, data.name);

    std::vector<BoundColumn> columns;
    columns.reserve(definition->num_cols);
    for (guint i = 0; i < definition->num_cols; ++i) {
        const auto *column = static_cast<MdbColumn *>(g_ptr_array_index(definition->columns, i));
        if (!hasText(*column)) {
            data.omittedColumns.append(QString::fromUtf8(column->name));
            continue;
        }
        BoundColumn bound;
        bound.index = int(i);
        bound.name = QString::fromUtf8(column->name);
        bound.isBoolean = column->col_type == MDB_BOOL;
        columns.push_back(std::move(bound));
        data.columns.append(columns.back().name);
    }
    for (BoundColumn &column : columns)
        mdb_bind_column(definition.get(), column.index + 1, column.text.get(), &column.length);

    std::vector<MdbField> fields(definition->num_cols);
    mdb_rewind_table(definition.get());
    while (mdb_fetch_row(definition.get())) {
        // libmdb delivers a null field as the empty text; the row's null mask tells them apart.
        // The row just read is still on the current page, one before the table's row position.
        int start = 0;
        size_t size = 0;
        if (mdb_find_row(mdb, int(definition->cur_row) - 1, &start, &size) != 0
            || mdb_crack_row(definition.get(), start & RowOffsetMask, size, fields.data()) < 0) {
            throw unreadableTable(m_fileName, data.name);
        }
        QList<FieldValue> row;
        row.reserve(data.columns.size());
        for (const BoundColumn &column : columns) {
            // A Yes/No field keeps its value in the null mask and is never null.
            if (fields[column.index].is_null && !column.isBoolean) {
                row.append(std::nullopt);
                continue;
            }
            if (size_t(column.length) >= LongestFieldBytes) {
                throw CatalogueError(
                    QStringLiteral("The field \"%1\" of row %2 is too long to read in the table "
                                   "\"%3\" of the catalogue \"%4\".")
                        .arg(column.name)
                        .arg(data.rows.size() + 1)
                        .arg(data.name, m_fileName));
            }
            row.append(QString::fromUtf8(column.text.get(), column.length));
        }
        data.rows.append(std::move(row));
    }
    return data;
}

} // namespace Kv402
