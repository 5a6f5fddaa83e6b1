// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/nextstep.h"
#include "dump/portinfo.h"
#include "dump/serialservice.h"

#include <QString>

namespace tarvik {

// How a port is named to the user: the window's "COM 3" (and "COM3" in its log
// line), or a device path on the command line.
struct PortName {
    QString spaced;
    QString compact;
    FrontEnd frontEnd = FrontEnd::CommandLine;

    static PortName comPort(qint16 n);
    static PortName device(const QString &path);
};

// What the user is told when a port does not open.
struct OpenFailureReport {
    enum class Shown { Nothing, Message, LogLine };

    Shown shown = Shown::Nothing;
    QString title; // of the message box
    QString text;  // the message box's text, or the log line without its line end

    // The text on one line, for a terminal.
    QString oneLine() const;
};

// The report for a failed opening: the failure, how the port is named, the
// device path, the group whose members may open the device (empty when joining
// a group would not help), the system's reason and, for a busy device, the
// process that holds it when it was found.
OpenFailureReport describeOpenFailure(SerialService::OpenError error, const PortName &name,
                                      const QString &devicePath, const QString &group,
                                      const QString &reason, const PortHolder &holder = {});

// The same for the last opening of `port`: its device path and reason, the
// device's group looked up when rights are missing, and the process holding
// it looked up when it is busy.
OpenFailureReport describeOpenFailure(const SerialService &port, SerialService::OpenError error,
                                      const PortName &name);

// The warning for a port that opened while another program has it open too
// (root's open is not stopped by the exclusive mode, nor is anybody's by a
// program that did not ask for it): that program may read the box's answers.
QString sharedPortWarning(const QString &devicePath, const PortHolder &holder);

// Which failure an errno of looking at or opening a device is.
SerialService::OpenError openErrorFromErrno(int error);

// The group whose members may open the device at `path`, or an empty text when
// joining a group would not help (no rights for the group, or the group is root's).
QString deviceGroup(const QString &path);

} // namespace tarvik
