// The preloaded library of pty_modem_lines.h: an ioctl() in front of the system's.

#include "pty_modem_lines.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <mutex>

#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Kv402::Test::PtyModemLines;

// The lines the PC drives; the others are the far end's.
constexpr int OutputLines = TIOCM_DTR | TIOCM_RTS;

bool isAnswered(unsigned long request)
{
    switch (request) {
    case TIOCMGET:
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCGSERIAL:
    case TIOCSSERIAL:
        return true;
    default:
        return false;
    }
}

class Lines final : public PtyModemLines
{
public:
    Lines()
        : m_rtsWritesWaiting(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
    {}

    void watch(dev_t device, const serial_struct &serial) override
    {
        const std::lock_guard lock(m_mutex);
        m_device = device;
        m_cts = false;
        m_output = 0;
        m_rtsWrites.clear();
        drainSignal();
        m_serial = serial;
        m_serialWrites.clear();
    }

    void setCts(bool high) override
    {
        const std::lock_guard lock(m_mutex);
        m_cts = high;
    }

    int lines() const override
    {
        const std::lock_guard lock(m_mutex);
        return m_output | (m_cts ? TIOCM_CTS : 0);
    }

    std::vector<bool> takeRtsWrites() override
    {
        const std::lock_guard lock(m_mutex);
        drainSignal();
        std::vector<bool> writes;
        writes.swap(m_rtsWrites);
        return writes;
    }

    int rtsWritesWaiting() const override { return m_rtsWritesWaiting; }

    serial_struct serial() const override
    {
        const std::lock_guard lock(m_mutex);
        return m_serial;
    }

    std::vector<serial_struct> serialWrites() const override
    {
        const std::lock_guard lock(m_mutex);
        return m_serialWrites;
    }

    // Answers a request on the device watched: true, with the request's result in *result.
    bool answer(int descriptor, unsigned long request, void *argument, int *result)
    {
        const std::lock_guard lock(m_mutex);
        struct stat status;
        if (m_device == 0 || ::fstat(descriptor, &status) != 0 || !S_ISCHR(status.st_mode)
            || status.st_rdev != m_device) {
            return false;
        }
        if (!argument) {
            errno = EFAULT;
            *result = -1;
            return true;
        }
        *result = 0;
        int *lines = static_cast<int *>(argument);
        switch (request) {
        case TIOCMGET:
            *lines = m_output | (m_cts ? TIOCM_CTS : 0);
            break;
        case TIOCMSET:
            m_output = *lines & OutputLines;
            writeRts((m_output & TIOCM_RTS) != 0);
            break;
        case TIOCMBIS:
            m_output |= *lines & OutputLines;
            if (*lines & TIOCM_RTS)
                writeRts(true);
            break;
        case TIOCMBIC:
            m_output &= ~(*lines & OutputLines);
            if (*lines & TIOCM_RTS)
                writeRts(false);
            break;
        case TIOCGSERIAL:
            *static_cast<serial_struct *>(argument) = m_serial;
            break;
        case TIOCSSERIAL:
            m_serial = *static_cast<const serial_struct *>(argument);
            m_serialWrites.push_back(m_serial);
            break;
        }
        return true;
    }

private:
    void writeRts(bool high)
    {
        m_rtsWrites.push_back(high);
        const std::uint64_t one = 1;
        // Only a counter about to overflow refuses, and then the far end is woken anyway.
        [[maybe_unused]] const ssize_t written = ::write(m_rtsWritesWaiting, &one, sizeof one);
    }

    void drainSignal()
    {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(m_rtsWritesWaiting, &count, sizeof count);
    }

    mutable std::mutex m_mutex;
    const int m_rtsWritesWaiting;
    dev_t m_device = 0;
    bool m_cts = false;
    int m_output = 0;
    std::vector<bool> m_rtsWrites;
    serial_struct m_serial{};
    std::vector<serial_struct> m_serialWrites;
};

Lines &instance()
{
    static Lines lines;
    return lines;
}

} // namespace

extern "C" PtyModemLines *kv402PtyModemLines()
{
    return &instance();
}

extern "C" int ioctl(int descriptor, unsigned long request, ...) noexcept
{
    va_list arguments;
    va_start(arguments, request);
    void *const argument = va_arg(arguments, void *);
    va_end(arguments);

    if (int result = 0;
        isAnswered(request) && instance().answer(descriptor, request, argument, &result))
        return result;
    using Ioctl = int (*)(int, unsigned long, ...);
    static const auto system = reinterpret_cast<Ioctl>(::dlsym(RTLD_NEXT, "ioctl"));
    return system(descriptor, request, argument);
}
