// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/nextstep.h"

#include <QStringList>

#include <unistd.h>

namespace tarvik {

namespace {

struct Row {
    PortTrouble trouble;
    const char *window;
    const char *commandLine; // nullptr: as the window's
};

// %1: the device, %2: how a stopped dump is continued.
constexpr Row Steps[] = {
    {PortTrouble::NotPresent,
     "Plug the adapter in and click Open again, or choose another COM port "
     "(tarvik-dump --list shows the serial ports of this computer).",
     "Plug the adapter in, or name another port: tarvik-dump --list shows the serial ports of this computer."},
    {PortTrouble::HeldUnseen, "To see which program holds it, run: %3fuser -v %1", nullptr},
    {PortTrouble::Disconnected, "plug it in again and continue with %2", nullptr},
};

// %1 ... %3 replaced in one pass, so that a device path holding "%2" stays as it is.
QString fillIn(const QString &text, const QStringList &values)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int n = i + 1 < text.size() ? text.at(i + 1).digitValue() : -1;
        if (text.at(i) == u'%' && n >= 1 && n <= values.size()) {
            out += values.at(n - 1);
            ++i;
        } else {
            out += text.at(i);
        }
    }
    return out;
}

struct StepText {
    NextStep step;
    const char *window;
    const char *commandLine;
};

// %1: how the stopped dump is continued, %2: how it is started again.
constexpr StepText StepTexts[] = {
    {NextStep::Continue, "Open again to continue from block %1", "continue with: %1"},
    {NextStep::CloseThenContinue, "Close keeps the blocks read so far; Open again then continues from block %1",
     nullptr},
    {NextStep::StartAgain, "Open again and choose Start again to read it anew", "start again with: %2"},
    {NextStep::ContinueOrStartAgain, "Open again to continue it or to start again",
     "continue it with: %1, or start again with: %2"},
    {NextStep::HostMode, "Put the box into its HOST - MODE and Open again",
     "put the box into its HOST - MODE and run again"},
    {NextStep::RunAgain, "Open again", "run again with: %2"},
    {NextStep::MoveOrChooseFolder, "Move that file away or choose another folder, then Open again",
     "move that file away, or choose another folder with -o"},
};

} // namespace

QString nextStep(PortTrouble trouble, FrontEnd frontEnd, const QString &device, const QString &continueWith)
{
    for (const Row &row : Steps) {
        if (row.trouble != trouble)
            continue;
        const char *text = frontEnd == FrontEnd::CommandLine && row.commandLine ? row.commandLine : row.window;
        // Only root sees every program's open files.
        const QString sudo = ::geteuid() == 0 ? QString() : QStringLiteral("sudo ");
        return fillIn(QString::fromUtf8(text), {device, continueWith, sudo});
    }
    return {};
}

QString nextStepText(NextStep step, FrontEnd frontEnd, const QString &continueWith, const QString &startAgainWith)
{
    for (const StepText &row : StepTexts) {
        if (row.step == step)
            return fillIn(QString::fromLatin1(frontEnd == FrontEnd::Window ? row.window : row.commandLine),
                          {continueWith, startAgainWith});
    }
    return {};
}

} // namespace tarvik
