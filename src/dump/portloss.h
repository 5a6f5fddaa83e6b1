// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace tarvik {

// What the system showed when an open port failed.
struct PortLossSigns {
    int error = 0;          // errno of the failing read or write (0: none, as after an end of file)
    bool hungUp = false;    // the open device answers every request with a hang-up's EIO
    bool nodeGone = false;  // its device node is gone, or another device stands in its place
};

// Whether the signs are those of an adapter that was pulled out: the errors that
// a disconnect gives (EIO, ENODEV, ENXIO), a hang-up, or a device node that has gone.
bool isDisconnect(const PortLossSigns &signs);

// What the user is told of a disconnect: the device and how to go on
// (the window's Open, or the command that continues the dump).
QString disconnectText(const QString &device, const QString &continueWith);

} // namespace tarvik
