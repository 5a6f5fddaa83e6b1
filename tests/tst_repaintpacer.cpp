// The window's repaint pacing: a frame while the user works in the window,
// the idle interval otherwise, and no change lost.
#include "repaintpacer.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QtTest>

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
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(label);
        layout->addWidget(field);
        window.resize(200, 80);
        window.show();
    }
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
    QTRY_COMPARE(paced.pacer->intervalMs(), TestIdleMs);
    QLineEdit *field = toThisWindow ? paced.field : &other;
    if (input == QLatin1String("key"))
        QTest::keyClick(field, Qt::Key_A);
    else if (input == QLatin1String("click"))
        QTest::mouseClick(paced.label, Qt::LeftButton);
    else if (input == QLatin1String("move"))
        QTest::mouseMove(paced.label, QPoint(5, 5));
    QCOMPARE(paced.pacer->intervalMs(), interval);
}

// A run changes what the window shows many times between two idle intervals:
// the window paints far fewer times than that, and its last paint shows the
// last change.
void TestRepaintPacer::programChangesArePacedAndNoneIsLost()
{
    PacedWindow paced;
    QVERIFY(QTest::qWaitForWindowExposed(&paced.window));
    QTRY_COMPARE(paced.pacer->intervalMs(), TestIdleMs);
    PaintLog log(paced.label);
    QSignalSpy aboutToRepaint(paced.pacer, &RepaintPacer::aboutToRepaint);

    constexpr int Changes = 30;
    QElapsedTimer elapsed;
    elapsed.start();
    int changed = 0;
    QTimer ticker;
    ticker.setInterval(10);
    connect(&ticker, &QTimer::timeout, [&] {
        paced.label->setText(QString::number(++changed));
        if (changed == Changes)
            ticker.stop();
    });
    ticker.start();
    QTRY_COMPARE(changed, Changes);
    const qint64 changingMs = elapsed.elapsed();

    QTRY_VERIFY(!log.shown.isEmpty() && log.shown.last() == QString::number(Changes));
    // Bounded by the time the changes took, so a slow machine cannot fail it.
    QVERIFY2(log.shown.size() <= changingMs / TestIdleMs + 2,
             qPrintable(QStringLiteral("%1 paints in %2 ms").arg(log.shown.size()).arg(changingMs)));
    QVERIFY(aboutToRepaint.count() >= 1);
}

QTEST_MAIN(TestRepaintPacer)
#include "tst_repaintpacer.moc"
