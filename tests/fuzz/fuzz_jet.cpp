// libFuzzer harness for reading an Access catalogue: each input is written to a file and read as
// the program reads its catalogue, through JetStorage. libmdb runs in a process of its own, where
// a crash is the expected end of a damaged file; this process must neither crash nor hang (run
// with -timeout, above the reading's own time limit), must end every reading with tables or a
// CatalogueError, and must leave no reading process behind.

#include "catalogue/catalogue_constants.h"
#include "catalogue/catalogue_error.h"
#include "catalogue/jet_storage.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

using namespace Kv402;

namespace {

void require(bool condition, const char *what)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz_jet: %s\n", what);
    std::abort();
}

QByteArray commandOf(const QString &process)
{
    QFile file(QStringLiteral("/proc/%1/comm").arg(process));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The processes started by this one that run this program: reading processes, whether still
// running or ended and not waited for. libFuzzer starts the sanitizers' symbolizer as well, which
// runs another program and stays.
int readingProcessesLeft()
{
    QFile file(QStringLiteral("/proc/self/task/%1/children").arg(::gettid()));
    require(file.open(QIODevice::ReadOnly), "the processes started cannot be listed");
    const QByteArray self = commandOf(QStringLiteral("self"));
    int left = 0;
    for (const QByteArray &child : file.readAll().split(' ')) {
        if (!child.trimmed().isEmpty() && commandOf(QString::fromLatin1(child.trimmed())) == self)
            ++left;
    }
    return left;
}

const QString &inputFile()
{
    static const QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("Versioni.mdb"));
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    {
        QFile file(inputFile());
        require(file.open(QIODevice::WriteOnly | QIODevice::Truncate),
                "the input cannot be written");
        require(file.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size),
                "the input cannot be written");
    }
    try {
        const JetStorage storage(inputFile(), QString(Catalogue::Password));
        for (const QString &name : storage.tableNames()) {
            const TableData table = storage.readTable(name);
            for (const QList<FieldValue> &row : table.rows)
                require(row.size() == table.columns.size(), "a row without all its fields");
        }
    } catch (const CatalogueError &error) {
        require(!error.message().isEmpty(), "a failure without a message");
        require(error.kind() != CatalogueError::Kind::Damaged || error.arguments().size() == 1,
                "damage without the file named");
    }
    // The reading process has been waited for, whatever its end.
    require(readingProcessesLeft() == 0, "a reading process was left behind");
    return 0;
}
