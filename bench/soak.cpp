// SPDX-License-Identifier: GPL-3.0-or-later
// Soak: many dump runs in a row through one window (offscreen), each against a
// fresh simulated boot loader in this process, mixing good runs, loader faults
// and Close clicks at several stages. Prints the memory, file descriptors and
// serial lock files before, between and after, and checks every dump file.
//
//   bench_soak [RUNS]        (default 50)
//   bench_soak --once        every scenario once (the test suite's run)
//
// Exit status 1 when a good dump differs from its image, a file holds
// anything but the blocks received, a run does not end, the loader saw a
// wrong byte, or file descriptors or lock files are left behind.
#include "dump/portinfo.h"
#include "loadersim/loadersim.h"
#include "support/faults.h"
#include "support/files.h"
#include "support/processstatus.h"
#include "support/scriptedprompts.h"
#include "support/sessionprobe.h"
#include "support/wait.h"
#include "support/wirelog.h"
#include "window/mainwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

using tarvik::DumpRun;
using tarvik::LoaderSim;
using Point = LoaderSim::Point;
using tarvik::MainWindow;

namespace {

constexpr int RunLimitMs = 120000;   // a run that takes longer counts as hung
constexpr int ShortStallMs = 300;
constexpr int UserStallMs = 10000;   // the users' own; long enough that only Close ends a wait

// What one run does. The user clicks Close after a stop, and also at once
// after Open, or as soon as `closeWhen` holds. `logHas` gives a text the log
// must hold at the end.
struct Scenario {
    enum class Close { Never, AtOnce, When };
    using Condition = std::function<bool(MainWindow &, const LoaderSim &)>;
    using LogText = std::function<QString(const LoaderSim &)>;

    const char *name;
    int start;
    int count;
    bool header;
    LoaderFault fault;
    int stallMs;
    Close close;
    Condition closeWhen;
    LogText logHas;
    bool complete; // the whole range must reach the file
};

QList<Scenario> scenarios()
{
    using C = Scenario::Close;
    const LoaderFault none = LoaderFault::none();
    const auto logEndsWith = [](const QString &tail) {
        return [tail](MainWindow &w, const LoaderSim &) { return w.logText().endsWith(tail); };
    };
    const auto text = [](const QString &t) { return [t](const LoaderSim &) { return t; }; };
    const auto success = text(LogSuccess + LogClosed);
    const auto closed = text(LogClosed);
    // The run's own last line for the fault, as the catalogue gives it.
    const auto lastLine = [](const LoaderFault &f, int start, int count) {
        return [f, start, count](const LoaderSim &sim) { return f.lastLine(sim, start, count); };
    };
    // The loader's total is one more than the sum of the blocks it served.
    const LoaderFault badTotal = LoaderFault::badTotal();
    const auto totalError = [badTotal](const LoaderSim &sim) {
        return TotalAsked + badTotal.lastLine(sim, 10, 16) + LogClosed;
    };
    const LoaderFault badCheck = LoaderFault::badCheck(3);
    const LoaderFault blockStall = LoaderFault::stall(Point::Block, 4, 100);
    const LoaderFault totalStall = loaderFault(QStringLiteral("stall in the total"));
    const LoaderFault hangUp = LoaderFault::hangUp(Point::Block, 6, 500);
    const LoaderFault extra = loaderFault(QStringLiteral("extra bytes"));
    return {
        {"full read", 0, 1024, false, none, ShortStallMs, C::Never, {}, success, true},
        {"full read with header", 0, 1024, true, none, ShortStallMs, C::Never, {}, success, true},
        {"partial 5+40", 5, 40, false, none, ShortStallMs, C::Never, {}, success, true},
        {"count 0", 300, 0, false, none, ShortStallMs, C::Never, {}, success, true},
        {"split markers", 0, 6, false, loaderFault(QStringLiteral("split markers")), ShortStallMs, C::Never, {},
         success, true},
        {"bad check at block 3", 0, 8, false, badCheck, ShortStallMs, C::Never, {}, lastLine(badCheck, 0, 8), false},
        {"bad total", 10, 16, false, badTotal, ShortStallMs, C::Never, {}, totalError, true},
        {"stall in block 4", 0, 8, false, blockStall, ShortStallMs, C::Never, {}, lastLine(blockStall, 0, 8), false},
        {"stall in the total", 0, 3, false, totalStall, ShortStallMs, C::Never, {}, lastLine(totalStall, 0, 3), true},
        {"hang-up in block 6", 0, 10, false, hangUp, ShortStallMs, C::Never, {}, lastLine(hangUp, 0, 10), false},
        {"extra bytes after block 2", 0, 6, false, extra, ShortStallMs, C::Never, {}, lastLine(extra, 0, 6), false},
        {"Close at once", 0, 1024, false, none, ShortStallMs, C::AtOnce, {}, closed, false},
        {"Close in the handshake", 0, 4, false, loaderFault(QStringLiteral("silent in the handshake")),
         ShortStallMs, C::When,
         [](MainWindow &, const LoaderSim &sim) { return sim.received().contains("REQUEST_START_BLOCK"); },
         closed, false},
        {"Close in a block wait", 0, 12, false, LoaderFault::stall(Point::Block, 5, 700), UserStallMs, C::When,
         logEndsWith(blockAsked(5)), closed, false},
        {"Close in the total wait", 20, 4, false, totalStall, UserStallMs, C::When, logEndsWith(TotalAsked), closed,
         true},
        {"Close in the middle of a full read", 0, 1024, true, none, ShortStallMs, C::When,
         [](MainWindow &, const LoaderSim &sim) { return sim.blocksServed().size() >= 300; }, closed, false},
    };
}

// Serial lock files (LCK..name) that name this process as their owner. Other
// programs on the machine may hold their own meanwhile.
QStringList ownLockFiles()
{
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid());
    QStringList found;
    for (const QString &dir : tarvik::SystemFolders::defaultLockFolders()) {
        const QString canonical = QDir(dir).canonicalPath();
        for (const QString &name : QDir(dir).entryList({QStringLiteral("LCK..*")}, QDir::Files | QDir::System)) {
            const QString path = canonical + u'/' + name;
            QFile lock(path);
            if (found.contains(path) || !lock.open(QIODevice::ReadOnly))
                continue;
            if (lock.readLine().trimmed() == pid)
                found << path;
        }
    }
    return found;
}

QString hex(const QByteArray &block, int index)
{
    return QStringLiteral("%1").arg(uchar(block.at(index)), 2, 16, QLatin1Char('0')).toUpper();
}

// Everything a finished run should have put in its file: the header when due,
// then the blocks of the range.
QByteArray wholeDump(const LoaderSim &sim, const Scenario &s)
{
    QByteArray data;
    for (int n = s.start; n < s.start + s.count; ++n)
        data += sim.block(n);
    if (!s.header)
        return data;
    const QByteArray first = sim.block(0);
    const QByteArray model = first.mid(8, first.indexOf('\0', 8) - 8);
    const QString versions = hex(first, 54) + hex(first, 53) + hex(first, 52) + hex(first, 50)
                             + hex(first, 49) + hex(first, 48);
    return "KAON0008B9" + versions.toLatin1() + "0000000000C" + model + "x" + data;
}

struct Outcome {
    bool ok = true;
    QString note;
};

int locksWhileOpen = 0; // runs whose open port had its lock file

Outcome runOne(MainWindow &w, ScriptedPrompts &prompts, const Scenario &s, const QString &folder)
{
    Outcome out;
    const auto fail = [&out](const QString &why) {
        out.ok = false;
        out.note += why + QStringLiteral("; ");
    };

    LoaderSim sim;
    if (!sim.open()) {
        fail(QStringLiteral("no pseudo-terminal: ") + sim.errorString());
        return out;
    }
    s.fault.applyTo(sim);
    qputenv("TARVIK_COM1", QFile::encodeName(sim.slavePath()));
    QDir().mkpath(folder);
    w.control<QLineEdit>("folderEdit")->setText(folder + u'/');
    w.control<QLineEdit>("startEdit")->setText(QString::number(s.start));
    w.control<QLineEdit>("countEdit")->setText(QString::number(s.count));
    w.control<QCheckBox>("headerCheck")->setChecked(s.header);
    runOf(w.session()).setStallTimeout(s.stallMs);
    prompts.messages.clear();

    auto *open = w.control<QPushButton>("openButton");
    auto *close = w.control<QPushButton>("closeButton");
    const auto ended = [&] { return !portOf(w.session()).isOpen() && open->isEnabled(); };
    const auto stopped = [&] { return runOf(w.session()).stage() == DumpRun::Stage::Stopped; };

    open->click();
    if (portOf(w.session()).isOpen() && !ownLockFiles().isEmpty())
        ++locksWhileOpen;
    bool finished = true;
    switch (s.close) {
    case Scenario::Close::Never:
        break;
    case Scenario::Close::AtOnce:
        close->click();
        break;
    case Scenario::Close::When:
        finished = waitUntil([&] { return ended() || s.closeWhen(w, sim); }, RunLimitMs, 2);
        close->click();
        break;
    }
    finished = finished && waitUntil([&] { return ended() || stopped(); }, RunLimitMs, 2);
    if (finished && stopped()) {
        close->click();
        finished = waitUntil(ended, RunLimitMs, 2);
    }
    if (!finished) {
        fail(QStringLiteral("the run did not end; log tail: ") + w.logText().right(120).toHtmlEscaped());
        close->click();
        waitUntil(ended, 5000, 2);
    }

    if (!sim.deviations().isEmpty())
        fail(QStringLiteral("the loader saw: ") + sim.deviations().join(QStringLiteral(" | ")));
    if (!prompts.messages.isEmpty()) {
        QStringList boxes;
        for (const ScriptedPrompts::Message &m : std::as_const(prompts.messages))
            boxes << m.title + QStringLiteral(": ") + m.text;
        fail(QStringLiteral("message box: ") + boxes.join(QStringLiteral(" | ")));
    }
    if (const QString logHas = s.logHas(sim); !w.logText().contains(logHas))
        fail(QStringLiteral("the log lacks \"%1\"; its tail: %2")
                     .arg(logHas.trimmed(), w.logText().right(120).trimmed()));

    const QStringList files = withoutPartRecords(QDir(folder).entryList(QDir::Files | QDir::Hidden));
    const QByteArray whole = wholeDump(sim, s);
    if (files.size() > 1)
        fail(QStringLiteral("more than one file: ") + files.join(u','));
    const QByteArray file = files.isEmpty() ? QByteArray() : readFile(folder + u'/' + files.first());
    if (s.complete && s.count > 0 && file != whole)
        fail(QStringLiteral("the dump differs from its image (%1 of %2 bytes)").arg(file.size()).arg(whole.size()));
    if (s.count == 0 && !files.isEmpty())
        fail(QStringLiteral("a run of no blocks wrote a file"));
    if (!s.complete) {
        // A run cut short keeps the blocks that it received, whole and in order.
        const qsizetype head = s.header ? whole.size() - qsizetype(s.count) * LoaderSim::BlockSize : 0;
        const bool prefix = whole.startsWith(file);
        const bool wholeBlocks = file.isEmpty() || (file.size() - head) % LoaderSim::BlockSize == 0;
        if (!prefix || !wholeBlocks)
            fail(QStringLiteral("the file of a cut run holds %1 bytes that are not the blocks received")
                         .arg(file.size()));
    }
    out.note += QStringLiteral("file %1 bytes").arg(file.size());
    for (const QString &name : files)
        QFile::remove(folder + u'/' + name);
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QList<Scenario> table = scenarios();
    const QString arg = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("50");
    const int runs = arg == QLatin1String("--once") ? int(table.size()) : arg.toInt();
    if (runs < 1) {
        std::fprintf(stderr, "usage: %s [RUNS | --once]\n", argv[0]);
        return 2;
    }

    QTemporaryDir dir;
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    QTest::qWait(50); // let the window settle before counting

    const int fdsBefore = openDescriptors();
    const QStringList locksBefore = ownLockFiles();
    const QString rssBefore = statusField("VmRSS");
    QString rssFirst;
    int fdsFirst = 0;
    int failures = 0;
    int completeDumps = 0;
    int completeEqual = 0;
    QElapsedTimer total;
    total.start();

    for (int i = 0; i < runs; ++i) {
        const Scenario &s = table.at(i % table.size());
        QElapsedTimer clock;
        clock.start();
        const Outcome o = runOne(w, prompts, s, dir.path() + QStringLiteral("/run%1").arg(i + 1));
        // Let the loader's and the port's deferred clean-up run before counting.
        QTest::qWait(20);
        if (s.complete && s.count > 0) {
            ++completeDumps;
            completeEqual += o.ok ? 1 : 0;
        }
        failures += o.ok ? 0 : 1;
        std::printf("run %2d  %-36s %6.2f s  RSS %s  %s%s\n", i + 1, s.name, clock.nsecsElapsed() / 1e9,
                    qPrintable(statusField("VmRSS")), o.ok ? "ok    " : "FAILED ", qPrintable(o.note));
        if (i == 0) {
            rssFirst = statusField("VmRSS");
            fdsFirst = openDescriptors();
        }
    }

    const int fdsAfter = openDescriptors();
    const QStringList leftLocks = ownLockFiles();

    std::printf("\n%d runs in %.1f s, %d failed\n", runs, total.nsecsElapsed() / 1e9, failures);
    std::printf("complete dumps equal to their image: %d of %d\n", completeEqual, completeDumps);
    std::printf("RSS before the first run   %s\n", qPrintable(rssBefore));
    std::printf("RSS after the first run    %s\n", qPrintable(rssFirst));
    std::printf("RSS after the last run     %s\n", qPrintable(statusField("VmRSS")));
    std::printf("peak RSS                   %s\n", qPrintable(statusField("VmHWM")));
    std::printf("open fds before / after the first / after the last run: %d / %d / %d\n", fdsBefore,
                fdsFirst, fdsAfter);
    std::printf("own lock files before: %lld, while the port was open: in %d of %d runs, left behind: %lld%s%s\n",
                qlonglong(locksBefore.size()), locksWhileOpen, runs, qlonglong(leftLocks.size()),
                leftLocks.isEmpty() ? "" : " ", qPrintable(leftLocks.join(u' ')));

    const bool leaked = fdsAfter > fdsBefore || !leftLocks.isEmpty();
    if (leaked)
        std::printf("LEAK: file descriptors or lock files were left behind\n");
    return failures == 0 && !leaked ? 0 : 1;
}
