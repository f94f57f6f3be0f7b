#pragma once

#include <QString>

#include <optional>

namespace Kv402 {

// The low-latency flag of a Linux serial device (ASYNC_LOW_LATENCY through TIOCGSERIAL and
// TIOCSSERIAL, open to every user since kernel 4.12). With it a USB adapter's driver hands
// received bytes on at once: FTDI adapters shorten their latency timer from 16 ms to 1 ms, which
// an echo protocol pays twice a block. Drivers without these requests (pseudo-terminals, some
// adapters) refuse them; on other platforms they do not exist.

// Whether the flag is set on the open device; nothing when the driver cannot say, with its
// reason in *reason.
std::optional<bool> lowLatency(int descriptor, QString *reason = nullptr);

// Sets or clears the flag, leaving the device's other serial settings as they are. False, with
// the driver's reason in *reason, when it refuses.
bool setLowLatency(int descriptor, bool on, QString *reason = nullptr);

} // namespace Kv402
