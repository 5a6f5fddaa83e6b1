// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace tarvik {

// Turns the port numbers of the port list (COM 1 to COM 4) into devices.
// COM n is, in this order: the path in the environment variable TARVIK_COMn
// when it is set and not empty; otherwise the n-th serial port present on the system, USB
// adapters first (ttyUSB*, then ttyACM*), then the others, each group in
// natural order.
class PortMap
{
public:
    static constexpr int FirstPort = 1;
    static constexpr int LastPort = 4;

    struct Entry {
        QString path;        // empty when COM n has no device
        QString description; // e.g. "FT232R USB UART"; may be empty
    };

    // The device for COM n (n from 1 to 4), looked up now. An override's
    // description is the device's own when it is a present port, else the
    // variable's name.
    static Entry resolve(int n);
    // Only the device path of COM n (empty when it has none). Cheaper than
    // resolve(): an override is taken as it stands, without asking the system
    // for port descriptions.
    static QString path(int n);
    // "TARVIK_COMn"
    static QString environmentName(int n);
    // The ports present, in the order above (without the environment overrides).
    static QStringList presentPorts();
    // Sorts device paths into the order above.
    static QStringList ordered(QStringList paths);
    // The tooltip text for COM n, e.g. "/dev/ttyUSB0 (FT232R USB UART)";
    // "No serial device present" when COM n has none, and the path followed by
    // "(not present)" when an override names a path that does not exist.
    static QString tooltip(int n);
};

} // namespace tarvik
