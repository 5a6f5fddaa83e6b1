// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One run's world as a front end has it: the session of one box on a serial
// port, what the front end would show of it, an output folder, and the
// simulated loader at the far end (tests that play the loader themselves
// leave it closed).
#include "dump/session.h"
#include "loadersim/loadersim.h"
#include "support/faults.h"
#include "support/files.h"
#include "support/manualclock.h"
#include "support/recorder.h"
#include "support/sessionprobe.h"
#include "support/wait.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>

struct SessionRig {
    // The stall watch goes by this clock: a run stalls only when a test moves it on.
    ManualClock clock;
    tarvik::LoaderSim sim;
    tarvik::Session session;
    tarvik::SerialService &port = portOf(session);
    tarvik::DumpRun &run = runOf(session);
    // The front end around the run.
    Recorder host{session};
    // The header option.
    bool header = false;
    QTemporaryDir dir;
    QSignalSpy finished{&run, &tarvik::DumpRun::finished};

    SessionRig() { session.setClock(clock); }

    QString folder() const { return dir.path() + u'/'; }

    bool open(const QString &device)
    {
        return session.open(device) == tarvik::SerialService::OpenError::None;
    }
    // Opens the simulator and the port on its device.
    bool openOnSim() { return sim.open() && open(sim.slavePath()); }

    void start(int startBlock, int count) { start(startBlock, count, folder()); }
    void start(int startBlock, int count, const QString &folder)
    {
        session.start(qint16(startBlock), qint16(count), folder, header);
    }

    // Runs blocks 0 and 1 against a loader that falls silent at this point of
    // its replies; true once it has, with what it sent before waiting here.
    bool startSilentAt(tarvik::LoaderSim::Point at, int index, int afterBytes)
    {
        LoaderFault::stall(at, index, afterBytes).applyTo(sim);
        if (!openOnSim())
            return false;
        start(0, 2);
        return waitForSilence(at == tarvik::LoaderSim::Point::Marker ? 0 : afterBytes);
    }
    // True once the loader has fallen silent and the port holds `held` bytes of its reply.
    bool waitForSilence(int held)
    {
        return waitUntil([&] { return sim.stage() == tarvik::LoaderSim::Stage::Silent && port.bytesWaiting() == held; },
                         5000);
    }

    QStringList files() const { return withoutPartRecords(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden)); }

    // What a partial read cut short left behind: the bytes of FlashDump.bin.part,
    // or NoFile when the folder holds no file at all.
    QByteArray partialDump() const
    {
        return files().isEmpty() ? NoFile : readFile(folder() + QStringLiteral("FlashDump.bin.part"));
    }
    static inline const QByteArray NoFile = QByteArrayLiteral("(no file)");
    // The bytes a partial read from block 0 leaves after `fileBlocks` good
    // blocks; a negative count means no file.
    QByteArray partialDump(int fileBlocks) const
    {
        QByteArray data;
        for (int n = 0; n < fileBlocks; ++n)
            data += sim.block(n);
        return fileBlocks < 0 ? NoFile : data;
    }

    // A run of `count` blocks from 0 against the loader with `fault`, to its
    // report: a stalled loader is given the stall time at once, and a run that
    // stops is left waiting for Close (stopped() then holds). False when the
    // run neither ended nor stopped.
    bool runWith(const LoaderFault &fault, int count)
    {
        fault.applyTo(sim);
        if (!openOnSim())
            return false;
        start(0, count);
        if (fault.kind == LoaderFault::Kind::Stall) {
            if (!waitForSilence(fault.at == tarvik::LoaderSim::Point::Marker ? 0 : fault.afterBytes))
                return false;
            clock.advance(tarvik::DumpRun::DefaultStallMs);
        }
        return waitUntil([&] { return stopped() || !host.reports.isEmpty(); }, 60000, 5);
    }
    bool stopped() const { return run.stage() == tarvik::DumpRun::Stage::Stopped; }
};
