#pragma once

#include <QLoggingCategory>

#include <chrono>

// What a port does, traced from the field: QT_LOGGING_RULES="kv402.port.debug=true".
Q_DECLARE_LOGGING_CATEGORY(portLog)

namespace Kv402::Port {

// CTS has no change notification on the serial ports: its level is read again after this pause,
// short enough that a block waits next to nothing for it and reading it costs next to no CPU.
inline constexpr std::chrono::milliseconds CtsPollInterval{1};
// A terminal that holds CTS low for longer than this is erasing its flash: from then on CTS is
// read every CtsSlowPollInterval, which keeps the CPU of a long wait below 1 % (a few hundred
// reads a second cost about 1 % on an emulated UART).
inline constexpr std::chrono::milliseconds CtsFastPollPeriod{100};
inline constexpr std::chrono::milliseconds CtsSlowPollInterval{20};

} // namespace Kv402::Port
