// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/clock.h"

#include <QString>

namespace tarvik {

// The progress bar's text: blocks done of the total, throughput and time left,
// e.g. "512 / 1024 blocks · 11.0 KiB/s · 0:46 left". The throughput is
// measured from the first good block on, so the time the box takes to answer
// the handshake (the user may switch it to host mode after Open) does not count.
class ProgressMeter
{
public:
    static constexpr int BlockBytes = 1024;

    // For tests: the clock the throughput goes by.
    void setClock(const Clock &clock) { m_clock = &clock; }
    // `alreadyDone`: blocks done before this run (a continued dump's); the
    // throughput is measured from the first block after them.
    void start(int totalBlocks, int alreadyDone = 0);
    // Returns the text for `done` good blocks.
    QString update(int done);
    // Pure formatting, for tests: bytesPerSecond < 0 means not measured yet.
    static QString format(int done, int total, double bytesPerSecond);
    // The parts of a text of format(): the blocks done of the total, the
    // throughput and the time left, each empty when the text has none.
    struct Parts {
        QString counts;
        QString speed;
        QString left;
    };
    static Parts parts(const QString &text);
    static inline const QString Separator = QStringLiteral(" \u00B7 ");
    // The text once a run has ended without success: no speed, no time left.
    enum class Ending { Stopped, TotalCheckFailed };
    static QString ended(int done, int total, Ending ending);

private:
    const Clock *m_clock = &Clock::system();
    qint64 m_firstNs = -1; // the time of the first good block; -1 before it
    int m_firstDone = 0;
    int m_alreadyDone = 0;
    int m_total = 0;
};

} // namespace tarvik
