// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "window/startfolder.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace tarvik {

// Every dialog the window shows, and what it asks of the desktop and of the
// machine's folders, goes through here, so that tests can answer them without
// a dialog on screen and without touching the user's folders.
class Prompts
{
public:
    virtual ~Prompts() = default;
    // A message box with only an OK button and no icon.
    virtual void message(QWidget *owner, const QString &text, const QString &title) = 0;
    // A folder picker for directories only; an empty result means cancelled.
    virtual QString chooseFolder(QWidget *owner, const QString &title) = 0;
    // A question with these buttons, the first the default and the last the
    // one that Escape and the box's close button give: the index of the one
    // clicked, or -1 when the box was closed without a choice.
    virtual int ask(QWidget *owner, const QString &text, const QString &title, const QStringList &buttons) = 0;
    // The folders that the output folder starts from (see startFolder()).
    virtual MachineFolders folders() const = 0;
    // Opens `folder` in the desktop's file manager.
    virtual void showFolder(const QString &folder) = 0;
};

class DialogPrompts : public Prompts
{
public:
    void message(QWidget *owner, const QString &text, const QString &title) override;
    QString chooseFolder(QWidget *owner, const QString &title) override;
    int ask(QWidget *owner, const QString &text, const QString &title, const QStringList &buttons) override;
    MachineFolders folders() const override { return machineFolders(); }
    void showFolder(const QString &folder) override;
};

} // namespace tarvik
