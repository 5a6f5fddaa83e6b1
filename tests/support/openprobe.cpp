// SPDX-License-Identifier: GPL-3.0-or-later
// Opens a device as the dump library does and prints how it went: the
// failure's name, then the window's message text for COM 1 with its line
// breaks as "\n". For tests that need an ordinary user's view of a device.
#include "dump/openfailure.h"
#include "dump/session.h"

#include <QCoreApplication>
#include <QMetaEnum>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    tarvik::Session session;
    const auto error = session.open(QString::fromLocal8Bit(argv[1]));
    const tarvik::OpenFailureReport report = session.openFailure(error, tarvik::PortName::comPort(1));
    const char *name = QMetaEnum::fromType<tarvik::SerialService::OpenError>().valueToKey(int(error));
    std::printf("%s\n%s\n", name ? name : "?", qPrintable(QString(report.text).replace(u'\n', QLatin1String("\\n"))));
    return 0;
}
