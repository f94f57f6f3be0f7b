#pragma once

#include <dlfcn.h>
#include <linux/serial.h>
#include <sys/types.h>

#include <vector>

namespace Kv402::Test {

// Modem lines and serial settings for one pseudo-terminal, which has neither of its own. A
// library preloaded into a test (LD_PRELOAD) answers the requests for them on the device it
// watches: TIOCMGET, TIOCMSET, TIOCMBIS and TIOCMBIC, through which QSerialPort reads CTS and
// drives RTS and DTR, and TIOCGSERIAL and TIOCSSERIAL, through which the port sets and clears its
// low-latency flag. Every other request, and every other device, goes to the system. The far end
// of the cable, a test thread at the master side, raises and lowers CTS and takes every RTS write
// in order.
class PtyModemLines
{
public:
    // Answers for this device (the st_rdev of the pseudo-terminal's slave side) from now on,
    // with every line low, no RTS write waiting and these serial settings.
    virtual void watch(dev_t device, const serial_struct &serial) = 0;

    virtual void setCts(bool high) = 0;
    // The lines as TIOCMGET gives them: TIOCM_CTS, TIOCM_RTS, TIOCM_DTR.
    virtual int lines() const = 0;

    // Every RTS level written since the last call, in order; a write of the level RTS has
    // already counts too.
    virtual std::vector<bool> takeRtsWrites() = 0;
    // A descriptor that poll() finds readable while RTS writes wait to be taken.
    virtual int rtsWritesWaiting() const = 0;

    virtual serial_struct serial() const = 0;
    // The settings of every TIOCSSERIAL, in order.
    virtual std::vector<serial_struct> serialWrites() const = 0;

protected:
    ~PtyModemLines() = default;
};

// The preloaded library's instance; null when the library has not been preloaded.
inline PtyModemLines *preloadedPtyModemLines()
{
    using Instance = PtyModemLines *(*) ();
    const auto instance = reinterpret_cast<Instance>(::dlsym(RTLD_DEFAULT, "kv402PtyModemLines"));
    return instance ? instance() : nullptr;
}

} // namespace Kv402::Test
