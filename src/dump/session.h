// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serialservice.h"

#include <QString>

namespace tarvik {

class DumpHost;
class DumpRun;
class SerialPort;

// What every front end does around a dump run: the fixed line settings, opening
// a port, and ending a session (port, dump file and the closing log line).
namespace Session {

inline const QString LineSettings = QStringLiteral("115200,N,8,1");
constexpr qint16 ReceiveBufferSize = 32000; // a 1025-byte block reply fits whole
inline const QString ClosedLine = QStringLiteral("Serial port closed.\r\n");

// Line settings, read size and receive buffer, on a closed port.
void applyLineSettings(SerialService &port);
// Opens the device at `path` (a /dev node or a link to one) with the fixed line settings.
SerialService::OpenError openDevice(SerialPort &port, const QString &path);
// When the port is open: closes it and the run's dump file and logs the closing
// line. True when it did so; nothing happens when the port is already closed.
bool end(SerialService &port, DumpRun &run, DumpHost &host);

} // namespace Session

} // namespace tarvik
