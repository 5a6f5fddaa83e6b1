// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/version.h"
#include "window/mainwindow.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <optional>

namespace {

const char HelpText[] =
        "Usage: tarvik [Qt options]\n"
        "Backs up the flash of a KAON set-top box over a serial cable, in a window.\n"
        "\n"
        "Options:\n"
        "  -h, --help     Show this help and exit.\n"
        "  -v, --version  Show the version and exit.\n"
        "\n"
        "Any other options are Qt's, such as -platform NAME and -style NAME.\n"
        "COM 1 to COM 4 are the devices in TARVIK_COM1 to TARVIK_COM4 where those are set,\n"
        "else the serial ports present, USB adapters first.\n"
        "For a shell or a script, use tarvik-dump.\n";

// --help and --version are answered before the application object exists:
// they need no display.
std::optional<int> answerWithoutWindow(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(HelpText, stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::printf("tarvik %s\n", tarvik::Version);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> status = answerWithoutWindow(argc, argv))
        return *status;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvik"));
    QApplication::setApplicationVersion(QString::fromLatin1(tarvik::Version));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(tarvik::DesktopId));
    tarvik::MainWindow window;
    window.show();
    return app.exec();
}
