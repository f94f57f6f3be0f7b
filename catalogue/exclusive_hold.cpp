#include "catalogue/exclusive_hold.h"

#include "catalogue/catalogue_error.h"
#include "catalogue/catalogue_file.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kv402 {

namespace {

using FileId = std::pair<dev_t, ino_t>;

struct Holds
{
    std::mutex mutex;
    std::map<FileId, int> descriptors; // kept open until the process ends
};

Holds &holds()
{
    static Holds instance;
    return instance;
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

void holdFile(const QString &fileName, CatalogueHold hold)
{
    // Opened before anything else looks at it: a FIFO or a device is refused here.
    CatalogueFile file(fileName);

    Holds &h = holds();
    const std::lock_guard lock(h.mutex);
    const FileId id{file.device(), file.inode()};
    if (const auto it = h.descriptors.find(id); it != h.descriptors.end()) {
        // A deleted file's inode number may come back for a new file: only a live link counts.
        struct stat held = {};
        if (::fstat(it->second, &held) == 0 && held.st_nlink > 0)
            return;
        ::close(it->second);
        h.descriptors.erase(it);
    }

    const int operation = hold == CatalogueHold::Exclusive ? LOCK_EX : LOCK_SH;
    if (::flock(file.descriptor(), operation | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            throw catalogueFailure(CatalogueError::Kind::InUse, file.path());
        }
        throw catalogueFailure(CatalogueError::Kind::CannotHold, file.path(), errnoText(error));
    }
    h.descriptors.emplace(id, file.release());
}

void releaseHold(const QString &fileName)
{
    struct stat named = {};
    if (::stat(QFile::encodeName(fileName).constData(), &named) != 0)
        return;
    Holds &h = holds();
    const std::lock_guard lock(h.mutex);
    if (const auto it = h.descriptors.find({named.st_dev, named.st_ino}); it != h.descriptors.end()) {
        // Closing the last descriptor of the open file releases its flock().
        ::close(it->second);
        h.descriptors.erase(it);
    }
}

} // namespace Kv402
