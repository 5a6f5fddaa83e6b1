// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

namespace tarvik {

// Gives the window's controls what a screen reader says for them (from
// Design::spoken()), makes each label the name of its field, and keeps the
// progress bar's accessible name on the run's blocks.
void describeControls(QWidget *window);

} // namespace tarvik
