// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's design: its own properties, every control's place, the
// frames, the tab order, and what the window shows on screen.
#include "support/scriptedprompts.h"
#include "transframe/colors.h"
#include "transframe/transframe.h"
#include "window/controls.h"
#include "window/designfont.h"
#include "window/designtable.h"
#include "window/logpane.h"
#include "window/mainwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QtTest>

using tarvik::LineWidget;
using tarvik::LogPane;
using tarvik::MainWindow;
using tarvik::ShapeWidget;

namespace {

constexpr quint32 ButtonShadow = 0x80000010;
constexpr quint32 Highlight3D = 0x80000014;

// What the window shows now, as it was last drawn (not painted afresh).
QImage shown(QWidget *window)
{
    return window->screen()->grabWindow(window->winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

QImage rgb(const QPixmap &pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_RGB32);
}

// The first point of `area` (in the window) where the window does not show
// `expected` at `expectedOrigin` + the point's offset in `area`; empty when all match.
QString firstMismatch(const QImage &window, const QRect &area, const QImage &expected,
                      const QPoint &expectedOrigin, int step)
{
    for (int y = area.top(); y <= area.bottom(); y += step) {
        for (int x = area.left(); x <= area.right(); x += step) {
            const QPoint at(x, y);
            const QPoint there = expectedOrigin + (at - area.topLeft());
            if (window.pixel(at) != expected.pixel(there))
                return QStringLiteral("%1, %2").arg(x).arg(y);
        }
    }
    return QString();
}

// The window as it starts, shown on the screen.
struct ShownForm
{
    ShownForm() { w.show(); }
    ScriptedPrompts prompts;
    MainWindow w{&prompts};
};

} // namespace

class TestLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void window();
    void geometry_data();
    void geometry();
    void frames_data();
    void frames();
    void looks();
    void captionsFit();
    void tabOrder_data();
    void tabOrder();
    void logPaneShowsThePicture();
    void topFramesShowTheirBorders_data();
    void topFramesShowTheirBorders();
    void noTraceAfterScrolling();
};

void TestLayout::initTestCase()
{
    QWidget probe;
    if (probe.logicalDpiX() != 96 || probe.logicalDpiY() != 96)
        QSKIP("the design's pixel places hold at 96 dpi");
    qunsetenv("TARVIK_COM1");
}

void TestLayout::window()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    QCOMPARE(w.windowTitle(), QStringLiteral("Tarvik for KAON STBs"));
    QCOMPARE(w.size(), QSize(492, 418));
    QCOMPARE(w.minimumSize(), w.size());
    QCOMPARE(w.maximumSize(), w.size());
    QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(w.palette().color(QPalette::Window), QColor(224, 224, 224));
    QCOMPARE(w.picture().size(), QSize(492, 422));
    const QList<QSize> iconSizes = w.windowIcon().availableSizes();
    QVERIFY(iconSizes.contains(QSize(16, 16)));
    QVERIFY(iconSizes.contains(QSize(32, 32)));
    QCOMPARE(QFontInfo(w.font()).pointSizeF(), 8.25);
}

void TestLayout::geometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("place"); // lines: the rectangle from one end point to the other

    const auto row = [](const char *name, const char *container, QRect place) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(container) << place;
    };
    row("openCloseFrame", "mainWindow", QRect(352, 0, 137, 57));
    row("openButton", "openCloseFrame", QRect(8, 21, 41, 25));
    row("closeButton", "openCloseFrame", QRect(56, 21, 41, 25));
    row("lamp", "openCloseFrame", QRect(112, 24, 17, 17));
    row("dataRequestFrame", "mainWindow", QRect(120, 0, 225, 57));
    row("startEdit", "dataRequestFrame", QRect(120, 12, 33, 19));
    row("countEdit", "dataRequestFrame", QRect(120, 32, 33, 19));
    row("editButton", "dataRequestFrame", QRect(168, 21, 41, 25));
    row("startLabel", "dataRequestFrame", QRect(16, 16, 81, 17));
    row("countLabel", "dataRequestFrame", QRect(16, 35, 89, 17));
    row("portFrame", "mainWindow", QRect(0, 0, 113, 57));
    row("portList", "portFrame", QRect(16, 21, 73, 21));
    row("headerFrame", "mainWindow", QRect(0, 56, 489, 25));
    row("headerCheck", "headerFrame", QRect(8, 9, 13, 13));
    row("modelDivider", "headerFrame", QRect(QPoint(368, 8), QPoint(368, 24)));
    row("modelLabel", "headerFrame", QRect(376, 9, 105, 17));
    row("headerLabel", "headerFrame", QRect(32, 9, 313, 17));
    row("aboutFrame", "mainWindow", QRect(0, 380, 489, 37));
    row("versionDivider", "aboutFrame", QRect(QPoint(400, 8), QPoint(400, 40)));
    row("versionLabel", "aboutFrame", QRect(416, 16, 65, 17));
    row("aboutLink", "aboutFrame", QRect(272, 16, 121, 17));
    row("authorDivider", "aboutFrame", QRect(QPoint(128, 8), QPoint(128, 40)));
    row("contactLabel", "aboutFrame", QRect(136, 16, 129, 17));
    row("authorLabel", "aboutFrame", QRect(8, 16, 113, 17));
    row("folderButton", "mainWindow", QRect(416, 344, 57, 25));
    row("folderEdit", "mainWindow", QRect(64, 344, 345, 22));
    row("logPane", "mainWindow", QRect(8, 104, 473, 233));
    row("progressBar", "mainWindow", QRect(8, 88, 473, 17));
    row("panelBorder", "mainWindow", QRect(0, 83, 488, 294));
    row("folderLabel", "mainWindow", QRect(8, 347, 49, 17));
}

void TestLayout::geometry()
{
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QRect, place);

    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    QWidget *control = w.control<QWidget>(name.toLatin1().constData());
    QVERIFY(control);
    QCOMPARE(control->parentWidget()->objectName(), container);
    if (auto *line = qobject_cast<LineWidget *>(control))
        QCOMPARE(line->line(), QLine(place.topLeft(), place.bottomRight()));
    else
        QCOMPARE(control->geometry(), place);
}

void TestLayout::frames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");

    QTest::newRow("openCloseFrame") << "openCloseFrame" << "COM Control";
    QTest::newRow("dataRequestFrame") << "dataRequestFrame" << "Data Request";
    QTest::newRow("portFrame") << "portFrame" << "Serial Port";
    QTest::newRow("headerFrame") << "headerFrame" << "";
    QTest::newRow("aboutFrame") << "aboutFrame" << "About";
}

// Each frame is loaded from its stored caption and font, with the defaults
// for the rest, and takes the picture beneath it as its backdrop.
void TestLayout::frames()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);

    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    auto *frame = w.control<tarvik::TransFrame>(name.toLatin1().constData());
    QVERIFY(frame);
    QCOMPARE(frame->caption(), caption);
    QCOMPARE(frame->captionLabel()->isVisibleTo(frame), !caption.isEmpty());
    QCOMPARE(frame->fontName(), tarvik::Design::FontName);
    QCOMPARE(frame->fontSize(), 8.25f);
    QVERIFY(!frame->fontBold());
    QCOMPARE(frame->borderStyle(), 1);
    QCOMPARE(frame->backStyle(), 0);
    QCOMPARE(frame->backColor(), 0x8000000Fu);
    QCOMPARE(QFontInfo(frame->captionLabel()->font()).family(), QFontInfo(w.font()).family());

    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_VERIFY(frame->backdropApplied());
    const QImage backdrop = rgb(*frame->picture());
    const QImage picture = rgb(w.picture());
    // A point in the frame clear of its border, caption and controls.
    const QPoint inside(frame->width() - 8, frame->height() - 8);
    QCOMPARE(backdrop.pixel(inside), picture.pixel(frame->mapTo(&w, inside)));
}

void TestLayout::looks()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);

    auto *link = w.control<QLabel>("aboutLink");
    QCOMPARE(link->text(), QUrl(tarvik::Design::MakerUrl).host());
    QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QVERIFY(link->font().underline());
    QCOMPARE(link->cursor().shape(), Qt::BitmapCursor);
    QCOMPARE(link->cursor().hotSpot(), QPoint(12, 1));
    QCOMPARE(link->cursor().pixmap().size(), QSize(32, 32));
    QVERIFY(!w.control<QLabel>("authorLabel")->text().isEmpty());

    QVERIFY(w.control<QLabel>("modelLabel")->font().bold());
    QVERIFY(w.control<QLabel>("versionLabel")->font().bold());
    QVERIFY(!w.control<QLabel>("headerLabel")->font().bold());
    for (const tarvik::Design::Control &c : tarvik::Design::controls()) {
        if (c.kind == tarvik::Design::Kind::Label)
            QVERIFY2(!w.control<QLabel>(c.name)->autoFillBackground(), c.name);
    }
    QCOMPARE(w.control<QComboBox>("portList")->toolTip(), QStringLiteral("Select the COM-Port for the receiver"));
    auto *bar = w.control<QProgressBar>("progressBar");
    QCOMPARE(bar->orientation(), Qt::Horizontal);
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(w.control<ShapeWidget>("panelBorder")->fillColor(), 0x80000015u);
}

// Every caption fits its control in the font that the design font resolves to.
void TestLayout::captionsFit()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    const QString family = QFontInfo(w.font()).family();
    QVERIFY2(family == tarvik::Design::FontName || tarvik::Design::fontStandIns().contains(family),
             qPrintable(QStringLiteral("no stand-in for the design font is installed; drawn in %1").arg(family)));
    for (const tarvik::Design::Control &c : tarvik::Design::controls()) {
        if (c.kind == tarvik::Design::Kind::Label && !c.caption.isEmpty()) {
            auto *label = w.control<QLabel>(c.name);
            QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(),
                     qPrintable(QStringLiteral("%1 in %2").arg(QLatin1String(c.name), family)));
        }
        if (c.kind == tarvik::Design::Kind::Frame) {
            auto *frame = w.control<tarvik::TransFrame>(c.name);
            QVERIFY2(frame->captionLabel()->geometry().right() < frame->width(), c.name);
        }
    }
}

void TestLayout::tabOrder_data()
{
    QTest::addColumn<bool>("allUsable");
    QTest::addColumn<QStringList>("order");

    QTest::newRow("at start-up") << false
        << QStringList{"folderEdit", "folderButton", "headerCheck", "portList", "openButton", "logPane"};
    QTest::newRow("every control shown and enabled") << true
        << QStringList{"folderEdit", "folderButton", "headerCheck", "portList", "editButton", "countEdit", "startEdit",
                       "closeButton", "openButton", "logPane"};
}

void TestLayout::tabOrder()
{
    QFETCH(bool, allUsable);
    QFETCH(QStringList, order);

    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    if (allUsable) {
        for (const char *name : {"editButton", "countEdit", "startEdit", "closeButton"}) {
            w.control<QWidget>(name)->setVisible(true);
            w.control<QWidget>(name)->setEnabled(true);
        }
    }
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), w.control<QWidget>("logPane"));

    QStringList visited;
    for (int i = 0; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, order);
}

// Where the log pane has no text, it shows the picture: the piece cut at the
// pane's place, laid from the top-left corner of the area inside its border.
void TestLayout::logPaneShowsThePicture()
{
    ShownForm form;
    MainWindow &w = form.w;
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    auto *log = w.control<LogPane>("logPane");
    QWidget *viewport = log->viewport();
    const int textBottom = 3 * log->fontMetrics().lineSpacing() + 4;
    const QRect blank(viewport->mapTo(&w, QPoint(0, textBottom)),
                      QSize(viewport->width(), viewport->height() - textBottom));
    const QPoint cut = QPoint(8, 104) + QPoint(0, textBottom);
    QTRY_COMPARE(firstMismatch(shown(&w), blank, rgb(w.picture()), cut, 7), QString());
}

void TestLayout::topFramesShowTheirBorders_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("Serial Port") << "portFrame";
    QTest::newRow("Data Request") << "dataRequestFrame";
    QTest::newRow("COM Control") << "openCloseFrame";
}

void TestLayout::topFramesShowTheirBorders()
{
    QFETCH(QString, name);

    ShownForm form;
    MainWindow &w = form.w;
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *frame = w.control<tarvik::TransFrame>(name.toLatin1().constData());
    QTRY_VERIFY(frame->backdropApplied());

    // 15 twips to the pixel; the top border runs through the caption's middle.
    const int h = qRound(frame->captionLabel()->height() * 15.0) / 2;
    const int top = qRound(h / 15.0);
    const int W = frame->width();
    const int H = frame->height();
    const QRgb shadow = tarvik::colorFromOle(ButtonShadow).rgb();
    const QRgb highlight = tarvik::colorFromOle(Highlight3D).rgb();
    const struct {
        QPoint at;
        QRgb color;
        const char *what;
    } expected[] = {
        {{W - 6, top}, shadow, "top"},
        {{W - 6, top + 1}, highlight, "top, inner"},
        {{0, H / 2}, shadow, "left"},
        {{1, H / 2}, highlight, "left, inner"},
        {{W - 1, H / 2}, highlight, "right"},
        {{W - 2, H / 2}, shadow, "right, inner"},
        {{W / 2, H - 2}, shadow, "bottom, inner"}, // the strip below covers the outer line
    };
    for (const auto &e : expected) {
        QTRY_VERIFY2(shown(&w).pixel(frame->mapTo(&w, e.at)) == e.color, e.what);
    }
}

// Lines scroll through the log pane over the picture; scrolled back to the
// top, the pane shows exactly what a fresh drawing of it shows.
void TestLayout::noTraceAfterScrolling()
{
    ShownForm form;
    MainWindow &w = form.w;
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *log = w.control<LogPane>("logPane");
    for (int i = 0; i < 200; ++i) {
        log->appendText(QStringLiteral("REQUEST_1024DOWN:%1\t1024DOWN_SUCCESS:%1 %2\r\n")
                                .arg(i, 4, 10, QLatin1Char('0'))
                                .arg(QString(i % 37, QLatin1Char('W'))));
        QCoreApplication::processEvents();
    }
    QVERIFY(log->verticalScrollBar()->value() > 0);
    for (int value = log->verticalScrollBar()->value(); value >= 0; value -= 7) {
        log->verticalScrollBar()->setValue(value);
        QCoreApplication::processEvents();
    }
    log->verticalScrollBar()->setValue(0);

    QWidget *viewport = log->viewport();
    const QRect pane(viewport->mapTo(&w, QPoint(0, 0)), viewport->size());
    QTRY_COMPARE(firstMismatch(shown(&w), pane, rgb(w.grab()), pane.topLeft(), 1), QString());
}

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
