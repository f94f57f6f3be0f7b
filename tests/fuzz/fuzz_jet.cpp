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

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <sys/wait.h>

using namespace Kv402;

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
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
        require(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        require(file.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size));
    }
    try {
        const JetStorage storage(inputFile(), QString(Catalogue::Password));
        for (const QString &name : storage.tableNames()) {
            const TableData table = storage.readTable(name);
            for (const QList<FieldValue> &row : table.rows)
                require(row.size() == table.columns.size());
        }
    } catch (const CatalogueError &error) {
        require(!error.message().isEmpty());
        require(error.kind() != CatalogueError::Kind::Damaged || error.arguments().size() == 1);
    }
    // The reading process has been waited for, whatever its end.
    require(::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD);
    return 0;
}
