#include "ports/low_latency.h"

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstring>
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace Kv402 {

namespace {

#ifdef Q_OS_LINUX
bool readSerial(int descriptor, serial_struct &serial, QString *reason)
{
    if (::ioctl(descriptor, TIOCGSERIAL, &serial) == 0)
        return true;
    if (reason)
        *reason = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}
#else
const char Unsupported[] = "the low-latency flag exists on Linux only";
#endif

} // namespace

std::optional<bool> lowLatency(int descriptor, QString *reason)
{
#ifdef Q_OS_LINUX
    serial_struct serial{};
    if (!readSerial(descriptor, serial, reason))
        return std::nullopt;
    return (serial.flags & ASYNC_LOW_LATENCY) != 0;
#else
    Q_UNUSED(descriptor)
    if (reason)
        *reason = QString::fromLatin1(Unsupported);
    return std::nullopt;
#endif
}

bool setLowLatency(int descriptor, bool on, QString *reason)
{
#ifdef Q_OS_LINUX
    // The request writes the whole structure: the other fields go back as they were read.
    serial_struct serial{};
    if (!readSerial(descriptor, serial, reason))
        return false;
    if (on)
        serial.flags |= ASYNC_LOW_LATENCY;
    else
        serial.flags &= ~ASYNC_LOW_LATENCY;
    if (::ioctl(descriptor, TIOCSSERIAL, &serial) == 0)
        return true;
    if (reason)
        *reason = QString::fromLocal8Bit(std::strerror(errno));
    return false;
#else
    Q_UNUSED(descriptor)
    Q_UNUSED(on)
    if (reason)
        *reason = QString::fromLatin1(Unsupported);
    return false;
#endif
}

} // namespace Kv402
