// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik-dump against simulated loaders, each paced at 115200 baud in a
// process of its own: one box, then four and sixteen boxes at once in one
// tarvik-dump; then a dump that stopped at a bad block, continued with --resume.
// The figures of tarvik-dump come from wait4(): its CPU time and peak RSS.
//
//   bench_cli [--blocks N] [--runs N] [--boxes N,N,...] [--resume-from N]
//             [path/to/tarvik-loader-sim [path/to/tarvik-dump]]
#include "benchsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

constexpr int Baud = 115200;

struct Result {
    bool ok = false;
    double wall = 0;
    double cpu = 0;
    double sys = 0; // of cpu, in the kernel
    double peakRssMiB = 0;
    double steal = 0;
    qint64 wireBytes = 0; // of one box
};

// Runs tarvik-dump on the devices and waits for it; its exit status and rusage.
bool runDump(const QString &program, const QStringList &devices, int blocks, const QString &folder, int *status,
             rusage *usage, const QStringList &extra = {})
{
    QList<QByteArray> args{QFile::encodeName(program), "--quiet", "--output", QFile::encodeName(folder),
                           "--count", QByteArray::number(blocks)};
    for (const QString &e : extra)
        args << QFile::encodeName(e);
    for (const QString &d : devices)
        args << "--port" << QFile::encodeName(d);
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv.front(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    return ::wait4(pid, status, 0, usage) == pid;
}

void fillUsage(Result &r, const rusage &usage)
{
    r.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    r.sys = double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) / 1e6;
    r.peakRssMiB = double(usage.ru_maxrss) / 1024.0;
}

Result runCase(const QString &simPath, const QString &dumpPath, int boxes, int blocks)
{
    Result r;
    std::vector<std::unique_ptr<Simulator>> sims;
    QStringList devices;
    for (int i = 0; i < boxes; ++i) {
        sims.push_back(std::make_unique<Simulator>());
        if (!sims.back()->start(simPath, blocks, Baud))
            return r;
        devices << sims.back()->device;
    }
    QTemporaryDir dir;
    int status = 0;
    rusage usage{};
    const double steal0 = stealSeconds();
    QElapsedTimer wall;
    wall.start();
    if (!runDump(dumpPath, devices, blocks, dir.path(), &status, &usage))
        return r;
    r.wall = double(wall.nsecsElapsed()) / 1e9;
    r.steal = stealSeconds() - steal0;
    fillUsage(r, usage);
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    for (auto &sim : sims) {
        const qint64 bytes = sim->finish();
        if (bytes <= 0)
            r.ok = false;
        r.wireBytes = bytes;
    }
    return r;
}

// A read of `blocks` from one box that stops at a bad block `badBlock`
// (unpaced, not measured), then the same box paced and the dump continued
// with --resume: the figures of the second run.
Result runResume(const QString &simPath, const QString &dumpPath, int blocks, int badBlock)
{
    Result r;
    QTemporaryDir dir;
    int status = 0;
    rusage usage{};
    {
        Simulator stopping;
        if (!stopping.start(simPath, blocks, 0, {QStringLiteral("--bad-check"), QString::number(badBlock)})
            || !runDump(dumpPath, {stopping.device}, blocks, dir.path(), &status, &usage)
            || !WIFEXITED(status) || WEXITSTATUS(status) != 1)
            return r;
        stopping.finish();
    }
    const QString part = dir.filePath(blocks == 1024 ? QStringLiteral("KSF-2100.bin.part")
                                                     : QStringLiteral("FlashDump.bin.part"));
    // The resumed run compares kept blocks spread over the .part before it
    // goes on: the loader is asked for blocks out of order.
    Simulator sim;
    if (!sim.start(simPath, 0, Baud, {}, -1))
        return r;
    const double steal0 = stealSeconds();
    QElapsedTimer wall;
    wall.start();
    if (!runDump(dumpPath, {sim.device}, blocks, dir.path(), &status, &usage, {QStringLiteral("--resume"), part}))
        return r;
    r.wall = double(wall.nsecsElapsed()) / 1e9;
    r.steal = stealSeconds() - steal0;
    fillUsage(r, usage);
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && sim.finish() > 0;
    return r;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    const int blocks = takeCount(args, QStringLiteral("--blocks"), 64);
    const int runs = takeCount(args, QStringLiteral("--runs"), 3);
    QList<int> boxCounts{1, 4, 16};
    if (const qsizetype at = args.indexOf(QStringLiteral("--boxes")); at >= 0 && at + 1 < args.size()) {
        boxCounts.clear();
        for (const QString &n : args.at(at + 1).split(u','))
            boxCounts << qMax(1, n.toInt());
        args.remove(at, 2);
    }
    // Where the stopped dump stopped: block 900 of a whole flash.
    const int resumeFrom = qBound(2, takeCount(args, QStringLiteral("--resume-from"), blocks * 900 / 1024), blocks - 1);
    const QString binDir = QCoreApplication::applicationDirPath();
    const QString simPath = args.value(0, binDir + QStringLiteral("/tarvik-loader-sim"));
    const QString dumpPath = args.value(1, binDir + QStringLiteral("/tarvik-dump"));

    QTextStream out(stdout);
    bool allOk = true;
    double oneBoxWall = 0;
    for (const int boxes : std::as_const(boxCounts)) {
        QList<double> wall, cpuShare, sysShare, rss, steal, ratio;
        qint64 wireBytes = 0;
        for (int i = 0; i < runs; ++i) {
            const Result r = runCase(simPath, dumpPath, boxes, blocks);
            if (!r.ok) {
                out << QStringLiteral("%1 box(es): run %2 FAILED").arg(boxes).arg(i + 1) << Qt::endl;
                allOk = false;
                continue;
            }
            wireBytes = r.wireBytes;
            wall << r.wall;
            cpuShare << 100.0 * r.cpu / r.wall;
            sysShare << 100.0 * r.sys / r.wall;
            rss << r.peakRssMiB;
            steal << r.steal;
            ratio << r.wall / (double(r.wireBytes) * 10.0 / Baud);
        }
        out << QStringLiteral("%1 box(es) at once, %2 blocks each at %3 baud, median of %4 runs")
                        .arg(boxes).arg(blocks).arg(Baud).arg(wall.size()) << Qt::endl;
        out << QStringLiteral("  wall time      %1 s").arg(figures(wall, 3)) << Qt::endl;
        out << QStringLiteral("  wire time      %1 s (%2 bytes both ways, one box)")
                        .arg(double(wireBytes) * 10.0 / Baud, 0, 'f', 3).arg(wireBytes) << Qt::endl;
        out << QStringLiteral("  wall / wire    %1").arg(figures(ratio, 4)) << Qt::endl;
        out << QStringLiteral("  CPU / wall     %1 %").arg(figures(cpuShare, 3)) << Qt::endl;
        out << QStringLiteral("  of it kernel   %1 %").arg(figures(sysShare, 3)) << Qt::endl;
        out << QStringLiteral("  peak RSS       %1 MiB").arg(figures(rss, 1)) << Qt::endl;
        out << QStringLiteral("  machine steal  %1 s").arg(figures(steal, 2)) << Qt::endl;
        if (boxes == 1)
            oneBoxWall = median(wall);
        else if (oneBoxWall > 0)
            out << QStringLiteral("  wall / one box %1").arg(median(wall) / oneBoxWall, 0, 'f', 4) << Qt::endl;
    }

    QList<double> resumeWall, resumeCpu, resumeSteal;
    for (int i = 0; i < runs; ++i) {
        const Result r = runResume(simPath, dumpPath, blocks, resumeFrom);
        if (!r.ok) {
            out << QStringLiteral("resume: run %1 FAILED").arg(i + 1) << Qt::endl;
            allOk = false;
            continue;
        }
        resumeWall << r.wall;
        resumeCpu << 100.0 * r.cpu / r.wall;
        resumeSteal << r.steal;
    }
    out << QStringLiteral("one box stopped at block %1 of %2, continued with --resume, median of %3 runs")
                    .arg(resumeFrom).arg(blocks).arg(resumeWall.size()) << Qt::endl;
    out << QStringLiteral("  wall time      %1 s").arg(figures(resumeWall, 3)) << Qt::endl;
    out << QStringLiteral("  CPU / wall     %1 %").arg(figures(resumeCpu, 3)) << Qt::endl;
    out << QStringLiteral("  machine steal  %1 s").arg(figures(resumeSteal, 2)) << Qt::endl;
    if (oneBoxWall > 0 && !resumeWall.isEmpty())
        out << QStringLiteral("  wall / whole read %1").arg(median(resumeWall) / oneBoxWall, 0, 'f', 4) << Qt::endl;
    out << (allOk ? "result: every transfer complete" : "result: FAILED") << Qt::endl;
    return allOk ? 0 : 1;
}
