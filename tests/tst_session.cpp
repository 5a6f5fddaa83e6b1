// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/session.h"
#include "support/faults.h"
#include "support/files.h"
#include "support/sessionrig.h"
#include "support/wirelog.h"

#include <QtTest>

using tarvik::DumpRun;
using tarvik::RunReport;
using tarvik::Session;
using Outcome = DumpRun::Outcome;
using tarvik::LoaderSim;
using Point = LoaderSim::Point;

namespace {

// The order in which a front end hears of a run's end, with what was true
// when it did: the port and the file closed, the closing line logged.
struct EndWatch {
    explicit EndWatch(Session &session) : m_session(session)
    {
        QObject::connect(&session, &Session::logAppended, &session, [this](const QString &text) {
            if (text == Session::ClosedLine)
                events << QStringLiteral("closing line");
        });
        QObject::connect(&session, &Session::stopped, &session, [this](Outcome outcome) {
            events << QStringLiteral("stopped");
            stoppedWith = outcome;
            portOpenWhenStopped = m_session.isOpen();
        });
        QObject::connect(&session, &Session::ended, &session, [this](const RunReport &report) {
            events << QStringLiteral("ended");
            reports << report;
            closedWhenEnded = !m_session.isOpen() && !m_session.dumpFile().isOpen();
        });
    }

    QStringList events;
    QList<RunReport> reports;
    Outcome stoppedWith = Outcome::None;
    bool portOpenWhenStopped = false;
    bool closedWhenEnded = false;

private:
    Session &m_session;
};

} // namespace

class TestSession : public QObject
{
    Q_OBJECT
private slots:
    void endings_data();
    void endings();
};

void TestSession::endings_data()
{
    QTest::addColumn<LoaderFault>("fault"); // of the loader, in a read of three blocks
    QTest::addColumn<QString>("then");      // Close at block 1, the adapter lost when stopped, or no folder
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<int>("fileBlocks"); // in the file the report names; -1: no file
    QTest::addColumn<int>("endedAt");    // the block the run ended at; -1: not among the blocks

    const QStringList closing{"closing line", "ended"};
    const QStringList stopped{"stopped", "closing line", "ended"};
    const LoaderFault good = LoaderFault::none();
    const LoaderFault badBlock = LoaderFault::badCheck(1);
    QTest::newRow("success") << good << "" << closing << Outcome::Success << 3 << -1;
    QTest::newRow("total differs") << LoaderFault::badTotal() << "" << closing << Outcome::TotalMismatch << 3 << -1;
    QTest::newRow("bad block, then Close") << badBlock << "" << stopped << Outcome::CheckError << 2 << 1;
    QTest::newRow("stall, then Close") << LoaderFault::stall(Point::Block, 1) << "" << stopped << Outcome::Timeout << 1 << 1;
    QTest::newRow("Close during the run") << good << "close" << closing << Outcome::PortClosed << 1 << 1;
    QTest::newRow("adapter lost") << LoaderFault::hangUp(Point::Block, 1, 300) << "" << closing << Outcome::PortLost
                                  << 1 << 1;
    QTest::newRow("adapter lost when stopped") << badBlock << "hang-up" << stopped << Outcome::PortLost << 2 << 1;
    QTest::newRow("file error") << good << "no folder" << closing << Outcome::FileError << -1 << 0;
}

// Every run ends with one report, after the port and the file are closed and
// the closing line is logged; a stopped run says so first and keeps both open
// until it is closed. Closing again reports nothing more. The report says at
// which block a run that ended among the blocks stopped.
void TestSession::endings()
{
    QFETCH(LoaderFault, fault);
    QFETCH(QString, then);
    QFETCH(QStringList, events);
    QFETCH(Outcome, outcome);
    QFETCH(int, fileBlocks);
    QFETCH(int, endedAt);

    SessionRig rig;
    fault.applyTo(rig.sim);
    const QString folder = then == u"no folder" ? rig.dir.filePath("gone/") : rig.folder();
    Session &session = rig.session;
    EndWatch watch(session);
    QObject::connect(&rig.sim, &LoaderSim::blockServed, &session, [&](int n) {
        if (then == u"close" && n == 1)
            session.close();
    });
    QVERIFY(rig.openOnSim());
    rig.start(0, 3, folder);
    if (fault.kind == LoaderFault::Kind::Stall) {
        QVERIFY(rig.waitForSilence(fault.afterBytes));
        rig.clock.advance(DumpRun::DefaultStallMs);
    }

    if (events.first() == u"stopped") {
        QTRY_COMPARE(watch.events, QStringList{"stopped"});
        QVERIFY(watch.portOpenWhenStopped);
        QVERIFY(session.isOpen());
        if (then == u"hang-up")
            rig.sim.close();
        else
            session.close();
    }
    QTRY_COMPARE(watch.events, events);
    QVERIFY(watch.closedWhenEnded);
    QVERIFY(!session.close());
    QCOMPARE(watch.events, events);

    const RunReport &report = watch.reports.first();
    QCOMPARE(report.outcome, outcome);
    QCOMPARE(report.outcome == Outcome::Success, report.text.isEmpty());
    QCOMPARE(report.requestedBlocks, 3);
    QCOMPARE(report.endedAtBlock, endedAt);
    if (fileBlocks < 0) {
        QVERIFY(report.filePath.isEmpty());
        QVERIFY2(report.text.contains(folder), qPrintable(report.text));
        return;
    }
    QCOMPARE(report.saved, outcome == Outcome::Success);
    QCOMPARE(report.filePath, rig.dir.filePath(report.saved ? "FlashDump.bin" : "FlashDump.bin.part"));
    const QByteArray file = readFile(report.filePath);
    QCOMPARE(file.size(), fileBlocks * 1024);
    QCOMPARE(report.size, file.size());
    QCOMPARE(report.sha256, QCryptographicHash::hash(file, QCryptographicHash::Sha256));
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
