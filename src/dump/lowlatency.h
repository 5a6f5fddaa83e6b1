// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace tarvik {

// The driver's low-latency mode (ASYNC_LOW_LATENCY through TIOCGSERIAL and
// TIOCSSERIAL). On an FTDI adapter it drops the latency timer, which holds the
// last partial USB packet of every reply, from 16 ms to 1 ms. A device without
// it (a pseudo-terminal, a driver that refuses) is left as it is, silently.
class LowLatencyMode
{
public:
    // Sets the flag on an open device, remembering whether it was set before.
    void enable(int fd);
    // Clears the flag again where enable() set it; nothing otherwise.
    void restore(int fd);

private:
    bool m_setHere = false;
};

} // namespace tarvik
