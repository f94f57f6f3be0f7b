#pragma once

namespace Kv402 {

class SimulatedPorts;

// The simulated terminals of the demo program, one behind each of COM1 to COM5:
// COM1 a healthy terminal; COM2 without cable (CTS low); COM3 on a noisy line (some echoes come
// back corrupted, every block is accepted within ten attempts); COM4 fails to write the fourth
// block to its flash; COM5 falls silent after a few blocks.
// Paced, characters take their true time on the wire at the line's baud rate.
void attachDemoTerminals(SimulatedPorts &ports, bool paced = true);

} // namespace Kv402
