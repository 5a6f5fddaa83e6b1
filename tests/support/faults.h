// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The ways a boot loader misbehaves, as the simulated loader plays them, with
// what a dump run against each comes to: its outcome, tarvik-dump's result
// word, the log and its last line, the whole blocks left in the file and what
// the host sent. Every front end's tests read their faults from here.
#include "dump/dumprun.h"
#include "dump/runresult.h"
#include "loadersim/loadersim.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>

struct LoaderFault {
    using Point = tarvik::LoaderSim::Point;
    using Outcome = tarvik::DumpRun::Outcome;
    enum class Kind {
        None,         // a good loader
        SplitMarkers, // markers in pieces among other text (index: the gap in ms); still a good run
        BadCheck,     // the check byte of block `index` is off by one
        BadTotal,     // the total is off by one
        Stall,        // the reply at `at`/`index` stops after `afterBytes` bytes
        HangUp,       // the adapter is gone after `afterBytes` bytes of the reply at `at`/`index`
        Extra,        // `extra` follows the reply at `at`/`index`
    };

    QString name;
    Kind kind = Kind::None;
    Point at = Point::None;
    int index = 0;
    int afterBytes = 0;
    QByteArray extra;

    static LoaderFault none();
    static LoaderFault splitMarkers(int gapMs);
    static LoaderFault badCheck(int block);
    static LoaderFault badTotal();
    static LoaderFault stall(Point at, int index, int afterBytes = 0);
    static LoaderFault hangUp(Point at, int index, int afterBytes = 0);
    static LoaderFault extraAfter(Point at, int index, const QByteArray &bytes);
    // The same fault under another name.
    LoaderFault named(const QString &newName) const;

    void applyTo(tarvik::LoaderSim &sim) const;
    // Takes every fault off the loader again.
    static void clear(tarvik::LoaderSim &sim);

    // What the rest says is for a run of `count` blocks from block `start`
    // (faults at a block name one inside that range).

    // How the run ends when nobody clicks Close; None while it only waits (a
    // loader silent in the handshake, where the run waits as long as it takes).
    Outcome outcome() const;
    // tarvik-dump's result word for that outcome.
    QString result() const { return tarvik::resultWord(tarvik::resultOf(outcome())); }
    // Whether the run stops and keeps the port open until Close.
    bool stops() const;
    // The log as it stands when the fault strikes: the good blocks and the
    // request that is being answered.
    QString logBefore(int start, int count) const;
    // The run's own last line: empty while it only waits; for a lost port
    // the start of the line, which goes on with the system's reason.
    QString lastLine(const tarvik::LoaderSim &sim, int start, int count) const;
    // Both, before the port is closed.
    QString log(const tarvik::LoaderSim &sim, int start, int count) const
    {
        return logBefore(start, count) + lastLine(sim, start, count);
    }
    // The whole blocks left in the dump file; -1 where no file was made.
    int wholeBlocks(int start, int count) const;
    // All the host sent until the run ended or stopped.
    QByteArray wire(int start, int count) const;
};
Q_DECLARE_METATYPE(LoaderFault)

// The catalogue: named faults as the suites run them, one entry a way.
const QList<LoaderFault> &loaderFaults();
// The catalogue's entry of that name; the test program stops when there is none.
LoaderFault loaderFault(const QString &name);
