#pragma once

#include <QElapsedTimer>
#include <QString>

namespace tarvik {

// The progress bar's text: blocks done of the total, throughput and time left,
// e.g. "512 / 1024 blocks · 11.0 KiB/s · 0:46 left".
class ProgressMeter
{
public:
    void start(int totalBlocks);
    // Returns the text for `done` good blocks.
    QString update(int done);
    // Pure formatting, for tests: bytesPerSecond < 0 means not measured yet.
    static QString format(int done, int total, double bytesPerSecond);

private:
    QElapsedTimer m_clock;
    int m_total = 0;
};

} // namespace tarvik
