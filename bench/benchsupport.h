// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the benchmarks share: the simulated loader as a separate process, the
// machine's steal time and medians.
#include <QFile>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

// CPU time that the hypervisor gave to others while this machine wanted it
// (all cores, from /proc/stat): a busy host shows here, not in our own figures.
inline double stealSeconds()
{
    QFile stat(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stat.readLine().simplified().split(' ');
    return fields.size() > 8 ? fields.at(8).toDouble() / double(::sysconf(_SC_CLK_TCK)) : 0;
}

struct Simulator {
    QProcess process;
    QString device;

    // Expects a read of `blocks` from `first` on; `extra` are more options (a fault, say).
    // With `first` below 0 the loader expects no range: any block may be asked for.
    bool start(const QString &path, int blocks, int baud, const QStringList &extra = {}, int first = 0)
    {
        QStringList args{QStringLiteral("--stats")};
        if (first >= 0)
            args << QStringLiteral("--expect") << QStringLiteral("%1,%2").arg(first).arg(blocks);
        args += extra;
        if (baud)
            args << QStringLiteral("--baud") << QString::number(baud);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(path, args);
        if (!process.waitForStarted() || !process.waitForReadyRead(5000)) {
            std::fprintf(stderr, "cannot start %s\n", qPrintable(path));
            return false;
        }
        device = QString::fromLocal8Bit(process.readLine()).trimmed();
        return true;
    }
    // Bytes both ways, or -1 when the simulator saw a deviation.
    qint64 finish()
    {
        process.waitForFinished(10000);
        const QStringList words = QString::fromLocal8Bit(process.readAllStandardOutput())
                                          .split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (process.exitCode() != 0) {
            std::fprintf(stderr, "the simulated loader reported deviations (exit %d)\n", process.exitCode());
            return -1;
        }
        return words.size() >= 4 ? words.at(1).toLongLong() + words.at(3).toLongLong() : 0;
    }
};

// Takes "NAME N" out of the arguments and gives N (at least 1), or `fallback`
// when the option is not there.
inline int takeCount(QStringList &args, const QString &name, int fallback)
{
    const qsizetype at = args.indexOf(name);
    if (at < 0 || at + 1 >= args.size())
        return fallback;
    const int value = qMax(1, args.at(at + 1).toInt());
    args.remove(at, 2);
    return value;
}

inline double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n == 0 ? 0 : n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

inline QString figures(const QList<double> &values, int decimals)
{
    QStringList parts;
    for (double v : values)
        parts << QString::number(v, 'f', decimals);
    return QStringLiteral("%1  (runs: %2)").arg(median(values), 0, 'f', decimals).arg(parts.join(QLatin1String(", ")));
}

