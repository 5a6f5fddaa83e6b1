// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/faults.h"

#include "support/wirelog.h"

#include <QtGlobal>

using tarvik::LoaderSim;
using Kind = LoaderFault::Kind;
using Point = LoaderFault::Point;
using Outcome = LoaderFault::Outcome;

namespace {

LoaderFault make(const QString &name, Kind kind, Point at = Point::None, int index = 0, int afterBytes = 0,
                 const QByteArray &extra = {})
{
    LoaderFault f;
    f.name = name;
    f.kind = kind;
    f.at = at;
    f.index = index;
    f.afterBytes = afterBytes;
    f.extra = extra;
    return f;
}

QString where(Point at, int index)
{
    switch (at) {
    case Point::Marker: return QStringLiteral("marker %1").arg(index);
    case Point::Block: return QStringLiteral("block %1").arg(index);
    case Point::Total: return QStringLiteral("the total");
    case Point::None: break;
    }
    return QString();
}

QString afterText(int afterBytes)
{
    return afterBytes ? QStringLiteral(" after %1 bytes").arg(afterBytes) : QString();
}

// A whole block reply went out before the fault (a hang-up after all of it).
bool wholeReplyFirst(const LoaderFault &f)
{
    return f.at == Point::Block && f.afterBytes >= tarvik::protocol::BlockReplySize;
}

} // namespace

LoaderFault LoaderFault::none() { return make(QStringLiteral("good"), Kind::None); }

LoaderFault LoaderFault::splitMarkers(int gapMs)
{
    return make(QStringLiteral("split markers"), Kind::SplitMarkers, Point::Marker, gapMs);
}

LoaderFault LoaderFault::badCheck(int block)
{
    return make(QStringLiteral("wrong check byte at block %1").arg(block), Kind::BadCheck, Point::Block, block);
}

LoaderFault LoaderFault::badTotal() { return make(QStringLiteral("wrong total"), Kind::BadTotal, Point::Total); }

LoaderFault LoaderFault::stall(Point at, int index, int afterBytes)
{
    return make(QStringLiteral("stall at ") + where(at, index) + afterText(afterBytes), Kind::Stall, at, index,
                afterBytes);
}

LoaderFault LoaderFault::hangUp(Point at, int index, int afterBytes)
{
    return make(QStringLiteral("hang-up at ") + where(at, index) + afterText(afterBytes), Kind::HangUp, at, index,
                afterBytes);
}

LoaderFault LoaderFault::extraAfter(Point at, int index, const QByteArray &bytes)
{
    return make(QStringLiteral("extra bytes after ") + where(at, index), Kind::Extra, at, index, 0, bytes);
}

LoaderFault LoaderFault::named(const QString &newName) const
{
    LoaderFault f = *this;
    f.name = newName;
    return f;
}

void LoaderFault::applyTo(LoaderSim &sim) const
{
    switch (kind) {
    case Kind::None: break;
    case Kind::SplitMarkers: sim.setSplitMarkers(true, index); break;
    case Kind::BadCheck: sim.setBadCheckBlock(index); break;
    case Kind::BadTotal: sim.setBadTotal(true); break;
    case Kind::Stall: sim.setStall(at, index, afterBytes); break;
    case Kind::HangUp: sim.setHangUp(at, index, afterBytes); break;
    case Kind::Extra: sim.setExtraAfterReply(at, index, extra); break;
    }
}

void LoaderFault::clear(LoaderSim &sim)
{
    sim.setSplitMarkers(false);
    sim.setBadCheckBlock(-1);
    sim.setBadTotal(false);
    sim.setStall(Point::None, 0);
    sim.setExtraAfterReply(Point::None, 0, {});
    sim.setHangUp(Point::None, 0);
}

Outcome LoaderFault::outcome() const
{
    switch (kind) {
    case Kind::None:
    case Kind::SplitMarkers: return Outcome::Success;
    case Kind::BadCheck: return Outcome::CheckError;
    case Kind::BadTotal: return Outcome::TotalMismatch;
    case Kind::Stall: return at == Point::Marker ? Outcome::None : Outcome::Timeout;
    case Kind::HangUp: return Outcome::PortLost;
    case Kind::Extra: return Outcome::UnexpectedData;
    }
    return Outcome::None;
}

bool LoaderFault::stops() const
{
    const Outcome o = outcome();
    return o == Outcome::CheckError || o == Outcome::Timeout || o == Outcome::UnexpectedData;
}

QString LoaderFault::logBefore(int start, int count) const
{
    switch (at) {
    case Point::None:
    case Point::Marker: return kind == Kind::SplitMarkers ? goodLog(start, count) + TotalAsked : LogStart;
    case Point::Block:
        return wholeReplyFirst(*this) && kind == Kind::HangUp ? goodLog(start, index - start + 1)
                                                              : goodLog(start, index - start) + blockAsked(index);
    case Point::Total: return goodLog(start, count) + TotalAsked;
    }
    return QString();
}

QString LoaderFault::lastLine(const LoaderSim &sim, int start, int count) const
{
    const QString awaited = at == Point::Total ? AwaitedTotal : awaitedBlock(index);
    switch (kind) {
    case Kind::None:
    case Kind::SplitMarkers: return LogSuccess;
    case Kind::BadCheck: return crcErrorLine(index);
    case Kind::BadTotal: {
        int sum = 0;
        for (int n = start; n < start + count; ++n)
            sum += LoaderSim::checkValue(sim.block(n));
        return totalErrorLine(sum, sum + 1);
    }
    case Kind::Stall: return at == Point::Marker ? QString() : timeoutLine(awaited);
    case Kind::HangUp: return LogLost;
    case Kind::Extra: return unexpectedLine(awaited);
    }
    return QString();
}

int LoaderFault::wholeBlocks(int start, int count) const
{
    int blocks = 0;
    switch (at) {
    case Point::None: blocks = count; break;
    case Point::Marker: blocks = kind == Kind::SplitMarkers ? count : 0; break;
    case Point::Block:
        // The bad block itself is written before its check byte is compared.
        blocks = index - start + (kind == Kind::BadCheck || wholeReplyFirst(*this) ? 1 : 0);
        break;
    case Point::Total: blocks = count; break;
    }
    return blocks > 0 ? blocks : -1;
}

QByteArray LoaderFault::wire(int start, int count) const
{
    switch (at) {
    case Point::None: return wholeWire(start, count, true);
    case Point::Marker: return kind == Kind::SplitMarkers ? wholeWire(start, count, true) : handshakeWire(index);
    case Point::Block: return goodWire(start, index - start) + blockRequest(index);
    case Point::Total:
        // A wrong total is answered with the closing message alone.
        return kind == Kind::BadTotal ? wholeWire(start, count, false) : goodWire(start, count) + TotalRequest;
    }
    return QByteArray();
}

const QList<LoaderFault> &loaderFaults()
{
    static const QList<LoaderFault> table{
        LoaderFault::none(),
        LoaderFault::splitMarkers(5),
        LoaderFault::badCheck(5).named(QStringLiteral("wrong check byte")),
        LoaderFault::badTotal(),
        LoaderFault::stall(Point::Block, 3, 100).named(QStringLiteral("stall")),
        LoaderFault::stall(Point::Total, 0).named(QStringLiteral("stall in the total")),
        LoaderFault::stall(Point::Marker, 1).named(QStringLiteral("silent in the handshake")),
        LoaderFault::extraAfter(Point::Block, 2, QByteArrayLiteral("\r\nOK\r\n")).named(QStringLiteral("extra bytes")),
        LoaderFault::hangUp(Point::Block, 4, 10).named(QStringLiteral("adapter pulled")),
        LoaderFault::hangUp(Point::Marker, 1).named(QStringLiteral("adapter pulled in the handshake")),
    };
    return table;
}

LoaderFault loaderFault(const QString &name)
{
    for (const LoaderFault &f : loaderFaults()) {
        if (f.name == name)
            return f;
    }
    qFatal("no loader fault is named \"%s\"", qPrintable(name));
}
