#pragma once

#include "link/srecord_image.h"
#include "ports/serial_port.h"

#include <chrono>

namespace Kv402::Link {

// The line to the terminal: 19200 baud, odd parity, 8 data bits, 1 stop bit ("19200,o,8,1").
inline constexpr LineSettings Line{19200, LineSettings::Parity::Odd, 8, LineSettings::StopBits::One};

// The header names the number of blocks N: N mod 256, then N div 256.
inline constexpr int HeaderSize = 2;
inline constexpr int BlockSize = Image::BlockSize;
// The terminal answers every echo decision with this many bytes.
inline constexpr int StatusSize = 10;
// Byte 0 of the status reply to an accepted block: the block is in the terminal's flash.
inline constexpr char FlashWritten = 0x00;
// A block whose echo is rejected this many times ends the run as a port failure.
inline constexpr int MaxAttempts = 10;

// A wait for the terminal gives up when nothing moves for this long: no byte arrives and the
// output queue does not shrink.
inline constexpr std::chrono::milliseconds SilenceLimit{30'000};
// CTS may stay low much longer: the terminal holds it low while it erases its flash.
inline constexpr std::chrono::milliseconds CtsLowLimit{120'000};
// Waits are cut into slices this long so that a stop request ends a run within 100 ms.
inline constexpr std::chrono::milliseconds StopCheckInterval{50};
} // namespace Kv402::Link
