// SPDX-License-Identifier: GPL-3.0-or-later
// The window's repaint pacing: a frame while the user works in the window,
// the idle interval otherwise, and no change lost.
#include "support/manualclock.h"
#include "window/repaintpacer.h"

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QtTest>

using tarvik::RepaintPacer;

namespace {

constexpr int TestIdleMs = 100;
constexpr int TestGraceMs = 200;

// Records what a label showed each time it was painted.
class PaintLog : public QObject
{
public:
    explicit PaintLog(QLabel *label) : m_label(label) { label->installEventFilter(this); }
    QStringList shown;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_label && event->type() == QEvent::Paint)
            shown << m_label->text();
        return false;
    }

private:
    QLabel *m_label;
};

struct PacedWindow
{
    PacedWindow()
    {
        pacer->setClock(clock);
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(label);
        layout->addWidget(field);
        window.resize(200, 80);
        window.show();
    }
    // Lets the input that showing the window brings (the pointer entering it)
    // arrive, and its grace run out.
    bool settled()
    {
        clock.advance(TestGraceMs);
        return pacer->intervalMs() == TestIdleMs;
    }

    ManualClock clock;
    QWidget window;
    QLabel *label = new QLabel(QStringLiteral("0"));
    QLineEdit *field = new QLineEdit;
    RepaintPacer *pacer = new RepaintPacer(&window, RepaintPacer::FrameMs, TestIdleMs, TestGraceMs);
};

} // namespace

class TestRepaintPacer : public QObject
{
    Q_OBJECT

private slots:
    void inputSetsTheFramePace_data();
    void inputSetsTheFramePace();
    void programChangesArePacedAndNoneIsLost();
};

void TestRepaintPacer::inputSetsTheFramePace_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("toThisWindow");
    QTest::addColumn<int>("interval");

    QTest::newRow("no input") << "" << true << TestIdleMs;
    QTest::newRow("a key in a field") << "key" << true << int(RepaintPacer::FrameMs);
    QTest::newRow("a click on a label") << "click" << true << int(RepaintPacer::FrameMs);
    QTest::newRow("the pointer moving") << "move" << true << int(RepaintPacer::FrameMs);
    QTest::newRow("a key in another window") << "key" << false << TestIdleMs;
}

void TestRepaintPacer::inputSetsTheFramePace()
{
    QFETCH(QString, input);
    QFETCH(bool, toThisWindow);
    QFETCH(int, interval);

    PacedWindow paced;
    QLineEdit other;
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&paced.window));
    // Showing a window under the pointer counts as the pointer entering it.
    QTRY_VERIFY(paced.settled());
    QLineEdit *field = toThisWindow ? paced.field : &other;
    if (input == QLatin1String("key"))
        QTest::keyClick(field, Qt::Key_A);
    else if (input == QLatin1String("click"))
        QTest::mouseClick(paced.label, Qt::LeftButton);
    else if (input == QLatin1String("move"))
        QTest::mouseMove(paced.label, QPoint(5, 5));
    QCOMPARE(paced.pacer->intervalMs(), interval);
    // The frame pace holds for the grace after the input, and only that long.
    paced.clock.advance(TestGraceMs - 1);
    QCOMPARE(paced.pacer->intervalMs(), interval);
    paced.clock.advance(1);
    QCOMPARE(paced.pacer->intervalMs(), TestIdleMs);
}

// A run changes what the window shows many times between two idle intervals:
// the window paints far fewer times than that, and its last paint shows the
// last change.
void TestRepaintPacer::programChangesArePacedAndNoneIsLost()
{
    PacedWindow paced;
    QVERIFY(QTest::qWaitForWindowExposed(&paced.window));
    QTRY_VERIFY(paced.settled());
    PaintLog log(paced.label);
    QSignalSpy aboutToRepaint(paced.pacer, &RepaintPacer::aboutToRepaint);

    constexpr int Changes = 30;
    constexpr int StepMs = 10;
    for (int changed = 1; changed <= Changes; ++changed) {
        paced.clock.advance(StepMs);
        paced.label->setText(QString::number(changed));
        QCoreApplication::processEvents(); // the repaint request reaches the pacer
    }
    // Once the idle interval has passed, the last change shows.
    const auto lastShown = [&] {
        paced.clock.advance(TestIdleMs);
        return log.shown.isEmpty() ? QString() : log.shown.last();
    };
    QTRY_COMPARE(lastShown(), QString::number(Changes));
    QVERIFY2(log.shown.size() <= Changes * StepMs / TestIdleMs + 2,
             qPrintable(QStringLiteral("%1 paints: ").arg(log.shown.size()) + log.shown.join(u' ')));
    QVERIFY(aboutToRepaint.count() >= 1);
}

QTEST_MAIN(TestRepaintPacer)
#include "tst_repaintpacer.moc"
