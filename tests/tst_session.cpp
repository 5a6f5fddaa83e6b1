// SPDX-License-Identifier: GPL-3.0-or-later
#include "files.h"
#include "loadersim.h"
#include "session.h"
#include "wirelog.h"

#include <QDir>
#include <QTemporaryDir>
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
    QTest::addColumn<QString>("how");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<int>("fileBlocks"); // in the file the report names; -1: no file

    const QStringList closing{"closing line", "ended"};
    const QStringList stopped{"stopped", "closing line", "ended"};
    QTest::newRow("success") << "good" << closing << Outcome::Success << 3;
    QTest::newRow("total differs") << "total" << closing << Outcome::TotalMismatch << 3;
    QTest::newRow("bad block, then Close") << "check" << stopped << Outcome::CheckError << 2;
    QTest::newRow("stall, then Close") << "stall" << stopped << Outcome::Timeout << 1;
    QTest::newRow("Close during the run") << "close" << closing << Outcome::PortClosed << 1;
    QTest::newRow("adapter lost") << "hang-up" << closing << Outcome::PortLost << 1;
    QTest::newRow("adapter lost when stopped") << "check, hang-up" << stopped << Outcome::PortLost << 2;
    QTest::newRow("file error") << "no folder" << closing << Outcome::FileError << -1;
}

// Every run ends with one report, after the port and the file are closed and
// the closing line is logged; a stopped run says so first and keeps both open
// until it is closed. Closing again reports nothing more.
void TestSession::endings()
{
    QFETCH(QString, how);
    QFETCH(QStringList, events);
    QFETCH(Outcome, outcome);
    QFETCH(int, fileBlocks);

    LoaderSim sim;
    QVERIFY(sim.open());
    if (how.startsWith(u"check"))
        sim.setBadCheckBlock(1);
    else if (how == u"total")
        sim.setBadTotal(true);
    else if (how == u"stall")
        sim.setStall(Point::Block, 1);
    else if (how == u"hang-up")
        sim.setHangUp(Point::Block, 1, 300);
    QTemporaryDir dir;
    const QString folder = how == u"no folder" ? dir.filePath("gone/") : dir.path() + u'/';

    Session session;
    session.setStallTimeout(200);
    EndWatch watch(session);
    QObject::connect(&sim, &LoaderSim::blockServed, &session, [&](int n) {
        if (how == u"close" && n == 1)
            session.close();
    });
    QCOMPARE(session.open(sim.slavePath()), tarvik::SerialService::OpenError::None);
    session.start(0, 3, folder, false);

    if (events.first() == u"stopped") {
        QTRY_COMPARE(watch.events, QStringList{"stopped"});
        QVERIFY(watch.portOpenWhenStopped);
        QVERIFY(session.isOpen());
        if (how.endsWith(u"hang-up"))
            sim.close();
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
    if (fileBlocks < 0) {
        QVERIFY(report.filePath.isEmpty());
        QVERIFY2(report.text.contains(folder), qPrintable(report.text));
        return;
    }
    QCOMPARE(report.saved, outcome == Outcome::Success);
    QCOMPARE(report.filePath, dir.filePath(report.saved ? "FlashDump.bin" : "FlashDump.bin.part"));
    const QByteArray file = readFile(report.filePath);
    QCOMPARE(file.size(), fileBlocks * 1024);
    QCOMPARE(report.size, file.size());
    QCOMPARE(report.sha256, QCryptographicHash::hash(file, QCryptographicHash::Sha256));
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
