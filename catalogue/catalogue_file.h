#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace Kv402 {

// The catalogue file opened for reading, closed when destroyed. Opening never blocks (a FIFO
// would wait for a writer for ever) and refuses anything but a regular file with content: a
// folder, a FIFO, a device or a link to one is never handed to a database engine.
class CatalogueFile
{
public:
    // Throws CatalogueError naming the file: an empty file is damaged, anything else that is not
    // a regular file cannot be opened.
    explicit CatalogueFile(const QString &fileName);
    ~CatalogueFile();

    CatalogueFile(const CatalogueFile &) = delete;
    CatalogueFile &operator=(const CatalogueFile &) = delete;

    int descriptor() const { return m_descriptor; }
    // The size when it was opened.
    qint64 size() const { return m_size; }
    dev_t device() const { return m_device; }
    ino_t inode() const { return m_inode; }
    // The absolute path, as messages name it.
    const QString &path() const { return m_path; }

    // The first bytes of the file, fewer when it is shorter.
    QByteArray readStart(qsizetype bytes) const;

    // Hands the descriptor over: it is no longer closed here.
    int release();

private:
    QString m_path;
    int m_descriptor = -1;
    qint64 m_size = 0;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

} // namespace Kv402
