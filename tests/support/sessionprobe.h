// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/session.h"

namespace tarvik {

// For tests: the run and the port inside a session, which front ends don't see.
class SessionProbe
{
public:
    static DumpRun &run(Session &session) { return session.m_run; }
    static SerialService &port(Session &session) { return *session.m_port; }
};

} // namespace tarvik

inline tarvik::DumpRun &runOf(tarvik::Session &session)
{
    return tarvik::SessionProbe::run(session);
}

inline tarvik::SerialService &portOf(tarvik::Session &session)
{
    return tarvik::SessionProbe::port(session);
}
