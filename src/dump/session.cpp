// SPDX-License-Identifier: GPL-3.0-or-later
#include "session.h"

#include "dumphost.h"
#include "dumprun.h"
#include "serialport.h"

namespace tarvik::Session {

void applyLineSettings(SerialService &port)
{
    port.setLineSettings(LineSettings);
    port.setReadBufferSize(ReceiveBufferSize);
}

SerialService::OpenError openDevice(SerialPort &port, const QString &path)
{
    applyLineSettings(port);
    port.setDevice(path);
    return port.open();
}

bool end(SerialService &port, DumpRun &run, DumpHost &host)
{
    if (!port.isOpen())
        return false;
    port.close();
    run.closeDumpFile();
    host.appendLog(ClosedLine);
    return true;
}

} // namespace tarvik::Session
