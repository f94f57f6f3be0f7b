#include "catalogue/catalogue_file.h"

#include "catalogue/catalogue_error.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kv402 {

CatalogueFile::CatalogueFile(const QString &fileName)
    : m_path(QFileInfo(fileName).absoluteFilePath())
{
    // O_NONBLOCK only matters for what is refused below: it has no effect on a regular file.
    m_descriptor = ::open(QFile::encodeName(m_path).constData(),
                          O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (m_descriptor < 0) {
        throw catalogueFailure(CatalogueError::Kind::CannotOpen,
                               m_path,
                               QString::fromLocal8Bit(std::strerror(errno)));
    }
    struct stat status = {};
    if (::fstat(m_descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(m_descriptor);
        throw catalogueFailure(CatalogueError::Kind::NotRegularFile, m_path);
    }
    if (status.st_size == 0) {
        ::close(m_descriptor);
        throw damagedCatalogue(m_path);
    }
    m_size = status.st_size;
    m_device = status.st_dev;
    m_inode = status.st_ino;
}

CatalogueFile::~CatalogueFile()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

QByteArray CatalogueFile::readStart(qsizetype bytes) const
{
    QByteArray start(bytes, Qt::Uninitialized);
    qsizetype done = 0;
    while (done < start.size()) {
        const ssize_t count = ::pread(m_descriptor,
                                      start.data() + done,
                                      size_t(start.size() - done),
                                      off_t(done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        done += count;
    }
    start.truncate(done);
    return start;
}

int CatalogueFile::release()
{
    const int descriptor = m_descriptor;
    m_descriptor = -1;
    return descriptor;
}

} // namespace Kv402
