// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace tarvik {

// Puts a terminal descriptor into raw mode: bytes pass as they are, both ways.
void setRawMode(int fd);

// A new pseudo-terminal pair: both descriptors close-on-exec, the slave side
// in raw mode. The caller owns (and closes) both descriptors.
struct RawPty {
    int master = -1;
    int slave = -1;
    QString slavePath;
    int error = 0; // errno when the pair could not be opened
};

RawPty openRawPty();

} // namespace tarvik
