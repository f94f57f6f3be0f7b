#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace Kv402::Test {

// A pseudo-terminal pair: the slave side is the PC's serial device, the master side the device at
// the other end of the cable.
class PseudoTerminal
{
public:
    PseudoTerminal()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return;
        termios tio;
        ::tcgetattr(m_master, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_master, TCSANOW, &tio);
        const QString slave = QString::fromLocal8Bit(::ptsname(m_master));
        struct stat status;
        if (::stat(QFile::encodeName(slave).constData(), &status) != 0)
            return;
        m_device = status.st_rdev;
        m_slave = slave;
    }
    ~PseudoTerminal()
    {
        if (m_master >= 0)
            ::close(m_master);
    }
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isValid() const { return !m_slave.isEmpty(); }
    int master() const { return m_master; }
    QString slavePath() const { return m_slave; }
    dev_t slaveDevice() const { return m_device; }

    // Whether a descriptor of this process still holds the slave side.
    bool slaveOpen() const
    {
        const QDir descriptors(QStringLiteral("/proc/self/fd"));
        for (const QFileInfo &entry : descriptors.entryInfoList(QDir::System | QDir::Files)) {
            if (entry.symLinkTarget() == m_slave)
                return true;
        }
        return false;
    }

    // Sends bytes from the far end.
    bool write(const QByteArray &bytes) const
    {
        return ::write(m_master, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }

    // What the far end received: count bytes, or fewer when msecs pass first.
    QByteArray read(qsizetype count, int msecs) const
    {
        QByteArray bytes;
        const QDeadlineTimer deadline(msecs);
        while (bytes.size() < count && !deadline.hasExpired()) {
            pollfd fd{m_master, POLLIN, 0};
            if (::poll(&fd, 1, int(deadline.remainingTime())) <= 0)
                break;
            char buffer[512];
            const ssize_t got = ::read(m_master, buffer, sizeof buffer);
            if (got <= 0)
                break;
            bytes.append(buffer, got);
        }
        return bytes;
    }

private:
    int m_master = -1;
    QString m_slave;
    dev_t m_device = 0;
};

} // namespace Kv402::Test
