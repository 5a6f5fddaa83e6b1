// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace tarvik {

// The folders that the output folder may start from.
struct MachineFolders {
    QString program;   // the folder that holds the running program
    QString documents; // the user's Documents folder; empty when there is none
    QString home;
};

// This machine's: the running program's folder, Documents and home.
MachineFolders machineFolders();

// Whether programs are installed in `folder`: under /usr, /opt, /bin, /sbin
// or the install prefix, or in a staged copy of such a tree (a folder with a
// "usr" or "opt" component). Only the build's own output folder never is.
bool isInstallFolder(const QString &folder);

// Where dumps go until the user picks a folder: the program's folder when it
// is kept in a folder of its own that the user may write (a build tree, a
// copy in the user's own folder), else Documents, else home. A dump never
// lands among installed programs, also when root runs them.
QString startFolder(const MachineFolders &folders);

} // namespace tarvik
