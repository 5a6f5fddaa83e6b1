// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/portloss.h"

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
    return QStringLiteral("the adapter was disconnected (%1): plug it in again and continue with %2")
            .arg(device, continueWith);
}

} // namespace tarvik
