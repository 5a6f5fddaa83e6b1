// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace tarvik::cli {

// What one box's live line says, before it is fitted to the terminal.
struct LiveLine {
    QString device; // the device's name, e.g. "ttyUSB0"
    int deviceWidth = 0; // the device column's width, so that the boxes' columns align
    QString model;  // empty until the box has told it
    bool bar = false;
    int done = 0;   // the bar's part: done of total blocks
    int total = 0;
    // With the bar, ProgressMeter's text ("512 / 1024 blocks · 11.0 KiB/s ·
    // 0:46 left"); otherwise a result or "waiting ...".
    QString status;
};

// The line fitted into a terminal `columns` wide, at most columns - 1 of
// them, so that the cursor never wraps. In order: the device column
// (deviceWidth wide), the model column (ModelWidth, where there is a model or
// a bar), the bar, and the status: the counts, the speed and the time left.
// The bar's width follows from the terminal's width, the device column and
// the widest status the run can show, so it stays the same for a whole run
// (and goes where the status would not fit beside it). The counts and the
// time left are never cut: when the line is too long, first the model column
// loses its padding, then the model goes, then the speed, then the device
// name loses its beginning (down to DeviceKeep columns); only a terminal
// narrower than all that cuts the line's end.
// Without UTF-8 the line is plain ASCII (see forCharset()).
QString fitLine(const LiveLine &line, int columns, bool utf8);

// Any other line (the tally of the boxes) fitted the same way: what does not
// fit loses its end.
QString fitText(const QString &text, int columns, bool utf8);

constexpr int BarWidth = 20;
constexpr int MinBarWidth = 5;
constexpr int DeviceKeep = 4;
constexpr int ModelWidth = 12;
// The widest speed and time left that the bar leaves room for: "99.9 KiB/s", "99:59 left".
constexpr int SpeedRoom = 10;
constexpr int LeftRoom = 10;

// The columns that a terminal gives the text: wide East Asian characters take
// two, combining marks none.
int textColumns(const QString &text);

// The text for a terminal without UTF-8: the middle dot becomes "-", the
// ellipsis "...", and any other character beyond ASCII "?". With UTF-8 the text
// is left as it is.
QString forCharset(const QString &text, bool utf8);

} // namespace tarvik::cli
