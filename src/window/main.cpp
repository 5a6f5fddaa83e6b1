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
        "It also takes Qt's own options, such as -platform NAME and -style NAME;\n"
        "any other option is an error (exit status 2).\n"
        "COM 1 to COM 4 are the devices in TARVIK_COM1 to TARVIK_COM4 where those are set,\n"
        "else the serial ports present, USB adapters first.\n"
        "For a shell or a script, use tarvik-dump.\n";

// Exit status of a command line that the program does not take.
constexpr int ExitUsage = 2;

// The options of every Qt program (QGuiApplication, QApplication and the X11
// platform), with one dash or two; those that take a value take it as the
// next argument or after "=".
const char *const QtOptionsWithValue[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                          "qwindowgeometry", "qwindowicon", "qwindowtitle", "session",
                                          "display", "geometry", "name", "title", "style", "stylesheet",
                                          "qmljsdebugger"};
const char *const QtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};

// How many arguments a Qt option at argv[i] takes up, or 0 when it is none of Qt's.
int qtOptionLength(int i, int argc, char *argv[])
{
    const char *arg = argv[i];
    if (arg[0] != '-' || arg[1] == '\0')
        return 0;
    const char *name = arg[1] == '-' ? arg + 2 : arg + 1;
    const char *equals = std::strchr(name, '=');
    const size_t length = equals ? size_t(equals - name) : std::strlen(name);
    const auto is = [name, length](const char *option) {
        return std::strlen(option) == length && std::strncmp(name, option, length) == 0;
    };
    for (const char *option : QtOptionsWithValue) {
        if (is(option))
            return equals || i + 1 >= argc ? 1 : 2;
    }
    for (const char *flag : QtFlags) {
        if (is(flag) && !equals)
            return 1;
    }
    return 0;
}

// The command line is read before the application object exists: --help,
// --version and a usage error need no display.
std::optional<int> answerWithoutWindow(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (const int length = qtOptionLength(i, argc, argv)) {
            i += length - 1;
            continue;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(HelpText, stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::printf("tarvik %s\n", tarvik::Version);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (argv[i][0] == '-') {
            std::fprintf(stderr, "tarvik: Unknown option '%s'.\nTry \"tarvik --help\".\n", argv[i]);
            return ExitUsage;
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
