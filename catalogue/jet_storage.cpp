#include "catalogue/jet_storage.h"

#include "catalogue/catalogue_error.h"
#include "catalogue/catalogue_file.h"
#include "catalogue/jet_password.h"
#include "catalogue/jet_reading.h"

#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <iconv.h>
#include <locale.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Kv402 {

namespace {

using Clock = std::chrono::steady_clock;

// How long the reading may take. A sound catalogue is read in milliseconds; a reading still going
// after this is lost in a damaged file.
constexpr std::chrono::milliseconds ReadingTimeLimit{5000};
// How often the end of the reading process is looked for once its reply is in.
constexpr std::chrono::milliseconds EndPollInterval{1};

constexpr char Utf8Charset[] = "UTF-8";
constexpr size_t ReplyChunk = 64 * 1024;

// The signals of a crash: in the reading process they end it plainly, whatever handler the
// program installed (a test framework's, a sanitizer's).
constexpr std::array CrashSignals{SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

class Descriptor
{
public:
    explicit Descriptor(int descriptor = -1)
        : m_descriptor(descriptor)
    {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const { return m_descriptor; }
    void reset()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        m_descriptor = -1;
    }

private:
    int m_descriptor;
};

class Converter
{
public:
    Converter(const char *to, const char *from)
        : m_converter(iconv_open(to, from))
    {}
    ~Converter()
    {
        if (isOpen())
            iconv_close(m_converter);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    bool isOpen() const { return m_converter != iconv_t(-1); }
    iconv_t get() const { return m_converter; }

private:
    iconv_t m_converter;
};

class CLocale
{
public:
    CLocale()
        : m_locale(newlocale(LC_ALL_MASK, "C", locale_t(nullptr)))
    {}
    ~CLocale()
    {
        if (m_locale)
            freelocale(m_locale);
    }
    CLocale(const CLocale &) = delete;
    CLocale &operator=(const CLocale &) = delete;

    locale_t get() const { return m_locale; }

private:
    locale_t m_locale;
};

std::chrono::milliseconds timeLeft(Clock::time_point deadline)
{
    return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()),
                    std::chrono::milliseconds(0));
}

// Reads until the writer closes the pipe; false when the deadline passes first or reading fails.
bool readToEnd(int descriptor, Clock::time_point deadline, QByteArray &data)
{
    for (;;) {
        pollfd ready{descriptor, POLLIN, 0};
        const int polled = ::poll(&ready, 1, int(timeLeft(deadline).count()));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0)
            return false;
        const qsizetype old = data.size();
        data.resize(old + qsizetype(ReplyChunk));
        const ssize_t count = ::read(descriptor, data.data() + old, ReplyChunk);
        data.resize(old + std::max<qsizetype>(count, 0));
        if (count == 0)
            return true;
        if (count < 0 && errno != EINTR && errno != EAGAIN)
            return false;
    }
}

// Waits for the process to end; false when the deadline passes first.
bool waitForEnd(pid_t process, Clock::time_point deadline, int &status)
{
    for (;;) {
        const pid_t ended = ::waitpid(process, &status, WNOHANG);
        if (ended == process)
            return true;
        if (ended < 0 && errno != EINTR)
            return false;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(EndPollInterval);
    }
}

// Runs the reading in a process of its own and returns its reply. Throws CatalogueError of kind
// Damaged when the process crashed, failed, found damage or ran out of time.
QByteArray readInOwnProcess(Jet::ReadingSetup setup, const QString &path)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw catalogueFailure(CatalogueError::Kind::CannotRead, path, errnoText(errno));
    }
    const Descriptor replyEnd(ends[0]);
    Descriptor writeEnd(ends[1]);
    setup.reply = writeEnd.get();

    // What the program has buffered would be written a second time by the reading process.
    std::fflush(stdout);
    std::fflush(stderr);
    // A fork from a program with threads: the child may only use what is safe there. It calls
    // libc, glib, iconv and libmdb, no Qt, starts no thread and ends with _exit. A lock that
    // another thread held at the fork stays held in the child; the time limit covers that too.
    const pid_t reader = ::fork();
    if (reader < 0) {
        throw catalogueFailure(CatalogueError::Kind::CannotRead, path, errnoText(errno));
    }
    if (reader == 0) {
        for (const int signal : CrashSignals)
            std::signal(signal, SIG_DFL);
        ::_exit(Jet::readEveryTable(setup));
    }
    writeEnd.reset();

    const Clock::time_point deadline = Clock::now() + ReadingTimeLimit;
    QByteArray reply;
    int status = 0;
    if (!readToEnd(replyEnd.get(), deadline, reply) || !waitForEnd(reader, deadline, status)) {
        // Killed only while it is still there to be waited for: its number is then not reused.
        if (::waitpid(reader, &status, WNOHANG) == 0) {
            ::kill(reader, SIGKILL);
            while (::waitpid(reader, &status, 0) < 0 && errno == EINTR) {
            }
        }
        throw damagedCatalogue(path);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != Jet::ReplyComplete)
        throw damagedCatalogue(path);
    return reply;
}

// The reply of the reading process, taken apart.
class ReplyReader
{
public:
    explicit ReplyReader(QByteArrayView data)
        : m_data(data)
    {}

    bool record(Jet::Record &record)
    {
        char tag = 0;
        if (!take(&tag, sizeof tag))
            return false;
        record = Jet::Record(tag);
        return true;
    }
    bool count(quint32 &count) { return take(&count, sizeof count); }
    bool text(QString &text)
    {
        quint32 length = 0;
        if (!count(length) || m_data.size() - m_at < qsizetype(length))
            return false;
        text = QString::fromUtf8(m_data.sliced(m_at, length));
        m_at += length;
        return true;
    }
    bool atEnd() const { return m_at == m_data.size(); }

private:
    bool take(void *out, qsizetype size)
    {
        if (m_data.size() - m_at < size)
            return false;
        std::memcpy(out, m_data.data() + m_at, size_t(size));
        m_at += size;
        return true;
    }

    QByteArrayView m_data;
    qsizetype m_at = 0;
};

bool readRow(ReplyReader &reader, TableData &table)
{
    QList<FieldValue> row;
    row.reserve(table.columns.size());
    for (qsizetype c = 0; c < table.columns.size(); ++c) {
        Jet::Record record{};
        if (!reader.record(record))
            return false;
        if (record == Jet::Record::Null) {
            row.append(std::nullopt);
            continue;
        }
        QString value;
        if (record != Jet::Record::Value || !reader.text(value))
            return false;
        row.append(std::move(value));
    }
    table.rows.append(std::move(row));
    return true;
}

// The tables of a reply. Throws CatalogueError: of kind Damaged when the reply is malformed or
// cut short.
QList<TableData> tablesOf(QByteArrayView reply, const QString &path)
{
    ReplyReader reader(reply);
    QList<TableData> tables;
    Jet::Record record{};
    while (reader.record(record)) {
        switch (record) {
        case Jet::Record::Table: {
            TableData table;
            quint32 columns = 0;
            if (!reader.text(table.name) || !reader.count(columns))
                throw damagedCatalogue(path);
            for (quint32 c = 0; c < columns; ++c) {
                QString column;
                if (!reader.text(column))
                    throw damagedCatalogue(path);
                table.columns.append(column);
            }
            quint32 omitted = 0;
            if (!reader.count(omitted))
                throw damagedCatalogue(path);
            for (quint32 c = 0; c < omitted; ++c) {
                QString column;
                if (!reader.text(column))
                    throw damagedCatalogue(path);
                table.omittedColumns.append(column);
            }
            tables.append(std::move(table));
            break;
        }
        case Jet::Record::Row:
            if (tables.isEmpty() || !readRow(reader, tables.last()))
                throw damagedCatalogue(path);
            break;
        case Jet::Record::TooLong: {
            QString table;
            QString column;
            quint32 row = 0;
            Jet::Record end{};
            if (!reader.text(table) || !reader.text(column) || !reader.count(row)
                || !reader.record(end) || end != Jet::Record::End || !reader.atEnd()) {
                throw damagedCatalogue(path);
            }
            throw CatalogueError(CatalogueError::Kind::FieldTooLong,
                                 {path, table, column, QString::number(row)});
        }
        case Jet::Record::End:
            if (!reader.atEnd())
                throw damagedCatalogue(path);
            return tables;
        default:
            throw damagedCatalogue(path);
        }
    }
    throw damagedCatalogue(path);
}

} // namespace

JetStorage::JetStorage(const QString &fileName, const QString &password)
    : m_fileName(QFileInfo(fileName).absoluteFilePath())
{
    const CatalogueFile file(m_fileName);
    const QByteArray head = file.readStart(Jet::HeaderBytes);
    if (Jet::hasAceSignature(head)) {
        throw catalogueFailure(CatalogueError::Kind::AccessTooNew, m_fileName);
    }
    if (!Jet::hasAccessSignature(head))
        throw notACatalogue(m_fileName);
    // The signature is there, the rest of the first page is not.
    if (head.size() < Jet::HeaderBytes)
        throw damagedCatalogue(m_fileName);
    // A different password is refused like a wrong key; a file without one opens, as it did with
    // the engine the catalogue was made for.
    const std::optional<Jet::Header> header = Jet::readHeader(head);
    if (!header || (!header->password.isEmpty() && header->password != password))
        throw notACatalogue(m_fileName);
    const qsizetype pageSize = Jet::pageSize(header->format);
    if (file.size() % pageSize != 0)
        throw damagedCatalogue(m_fileName);

    const QByteArray charset = Jet::textCharset(*header);
    const Converter toUtf8(Utf8Charset, charset.constData());
    const Converter fromUtf8(charset.constData(), Utf8Charset);
    if (!toUtf8.isOpen() || !fromUtf8.isOpen()) {
        throw catalogueFailure(CatalogueError::Kind::TextsNotConvertible,
                               m_fileName,
                               QString::fromLatin1(charset));
    }
    const CLocale cLocale;

    Jet::ReadingSetup setup;
    setup.file = file.descriptor();
    setup.size = size_t(file.size());
    setup.pageSize = size_t(pageSize);
    setup.toUtf8 = toUtf8.get();
    setup.fromUtf8 = fromUtf8.get();
    setup.cLocale = cLocale.get();
    m_tables = tablesOf(readInOwnProcess(setup, m_fileName), m_fileName);
}

QStringList JetStorage::tableNames() const
{
    QStringList names;
    for (const TableData &table : m_tables)
        names.append(table.name);
    return names;
}

TableData JetStorage::readTable(const QString &table) const
{
    // Table names compare without regard to case, as the engine does.
    for (const TableData &data : m_tables) {
        if (data.name.compare(table, Qt::CaseInsensitive) == 0)
            return data;
    }
    throw missingTable(m_fileName, table);
}

} // namespace Kv402
