// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/dumprun.h"

#include <QString>

class QWidget;

namespace tarvik {

// Makes assistive technology see the main window as a window and each frame
// as a group named by its caption, each with its controls but without the
// lines, outlines and caption labels that are only drawn. Call it before the
// window's controls are made.
void installSpokenContainers();

// Gives the window's controls what a screen reader says for them (from
// Design::spoken()) and makes each label the name of its field.
void describeControls(QWidget *window);

// The progress bar's accessible name once a run has stopped or ended, which
// is also what the window announces then: "Stopped at block 120 of 1024:
// check error", "Done: 1024 blocks"; a range that starts elsewhere names its
// blocks ("… of blocks 100–149: …"); "Progress" while it runs. `done`
// counts the blocks of the range from `startBlock`, of `total`; `endedAt` is
// the block the run stopped at, when it knows (-1: the one after `done`).
QString progressEndName(DumpRun::Outcome outcome, qint16 endedAt, qint16 startBlock, int done, int total);

} // namespace tarvik
