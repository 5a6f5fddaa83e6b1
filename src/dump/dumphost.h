// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace tarvik {

// What a dump run needs from the window around it.
class DumpHost
{
public:
    virtual ~DumpHost() = default;

    // The log pane: replace its whole text, or append a piece (lines carry CR LF).
    virtual void replaceLog(const QString &text) = 0;
    virtual void appendLog(const QString &text) = 0;
    // The model label's caption.
    virtual void showModel(const QString &model) = 0;
    // The progress bar's value: the number of good blocks so far.
    virtual void showProgress(int blocksDone) = 0;
    // The header option, read when the first block has arrived.
    virtual bool headerTicked() = 0;
    // A message box with only OK and no icon.
    virtual void showMessage(const QString &text, const QString &title) = 0;
    // Closes the port and the dump file, logs it, returns the controls to idle.
    virtual void closePort() = 0;
};

} // namespace tarvik
