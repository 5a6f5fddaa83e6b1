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
    QString status; // "512 / 1024 blocks · 11.0 KiB/s · 0:46 left", a result, "waiting ..."
};

// The line fitted into a terminal `columns` wide, at most columns - 1 of them,
// so that the cursor never wraps. The device column is deviceWidth wide, the
// model column (where there is a model or a bar) ModelWidth, a longer model
// cut. Where that does not fit, first the bar narrows down to MinBarWidth,
// then the device name loses its beginning (down to DeviceKeep columns), then
// the model column its padding; then the same without the bar; then the model
// is cut down to ModelKeep columns; what is still too long loses its end.
// Without UTF-8 the line is plain ASCII (see forCharset()).
QString fitLine(const LiveLine &line, int columns, bool utf8);

// Any other line (the tally of the boxes) fitted the same way: what does not
// fit loses its end.
QString fitText(const QString &text, int columns, bool utf8);

constexpr int BarWidth = 20;
constexpr int MinBarWidth = 5;
constexpr int DeviceKeep = 16;
constexpr int ModelWidth = 12;
constexpr int ModelKeep = 8;

// The columns that a terminal gives the text: wide East Asian characters take
// two, combining marks none.
int textColumns(const QString &text);

// The text for a terminal without UTF-8: the middle dot becomes "-", the
// ellipsis "...", and any other character beyond ASCII "?". With UTF-8 the text
// is left as it is.
QString forCharset(const QString &text, bool utf8);

} // namespace tarvik::cli
