// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/portloss.h"

#include "dump/nextstep.h"

#include <cerrno>

namespace tarvik {

bool isDisconnect(const PortLossSigns &signs)
{
    if (signs.hungUp || signs.nodeGone)
        return true;
    switch (signs.error) {
    case EIO:
    case ENODEV:
    case ENXIO:
        return true;
    default:
        return false;
    }
}

QString disconnectText(const QString &device, const QString &continueWith)
{
    return QStringLiteral("the adapter was disconnected (%1): ").arg(device)
            + nextStep(PortTrouble::Disconnected, FrontEnd::Window, device, continueWith);
}

} // namespace tarvik
