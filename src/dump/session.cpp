#include "session.h"

#include "dumphost.h"
#include "dumprun.h"
#include "serialport.h"

namespace tarvik::Session {

void applyLineSettings(SerialService &port)
{
    port.setSettings(LineSettings);
    port.setInputLen(0);
    port.setInBufferSize(ReceiveBufferSize);
}

SerialService::OpenError openDevice(SerialPort &port, const QString &path)
{
    applyLineSettings(port);
    port.setDevice(path);
    return port.setPortOpen(true);
}

bool end(SerialService &port, DumpRun &run, DumpHost &host)
{
    if (!port.portOpen())
        return false;
    port.setPortOpen(false);
    run.closeDumpFile();
    host.appendLog(ClosedLine);
    return true;
}

} // namespace tarvik::Session
