// SPDX-License-Identifier: GPL-3.0-or-later
// The see-through text fields: their tiles, their hooks, and what they show.
#include "support/scriptedprompts.h"
#include "transframe/colors.h"
#include "window/designtable.h"
#include "window/logpane.h"
#include "window/mainwindow.h"
#include "window/seethrough.h"

#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QtTest>

using tarvik::MainWindow;
namespace SeeThrough = tarvik::SeeThrough;

namespace {

constexpr quint32 ButtonFace = 0x8000000F;

// A picture that tells at every pixel where it is; a light one keeps to the
// light half of every channel.
QPixmap placePicture(int width, int height, bool light = false)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, light ? qRgb(128 + x % 128, 128 + y % 128, 220) : qRgb(x, y, 100));
    }
    return QPixmap::fromImage(image);
}

// A window with a picture and text fields placed in twips.
struct PictureForm
{
    explicit PictureForm(const QPixmap &picture)
        : picture(picture)
    {
        form.resize(320, 240);
    }

    QLineEdit *field(const QRectF &twips, QWidget *container = nullptr)
    {
        auto *edit = new QLineEdit(container ? container : &form);
        edit->setGeometry(qRound(twips.x() / 15), qRound(twips.y() / 15), qRound(twips.width() / 15),
                          qRound(twips.height() / 15));
        twipsOf.insert(edit, twips);
        return edit;
    }

    void makeSeeThrough(QWidget *field) { SeeThrough::makeSeeThrough(field, picture, twipsOf.value(field)); }

    QPixmap picture;
    QHash<QWidget *, QRectF> twipsOf;
    QWidget form;
};

QImage tileOf(const QWidget *field)
{
    return SeeThrough::backgroundTile(field).texture().toImage().convertToFormat(QImage::Format_RGB32);
}

// What the window shows now, as it was last drawn (not painted afresh).
QImage shown(QWidget *window)
{
    return window->screen()->grabWindow(window->winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

template<typename T>
T *hookOn(const QObject *widget)
{
    return widget->findChild<T *>(QString(), Qt::FindDirectChildrenOnly);
}

template<typename T>
int hooksOn(const QObject *widget)
{
    return int(widget->findChildren<T *>(QString(), Qt::FindDirectChildrenOnly).size());
}

// Records the areas of a widget that are painted.
class PaintSpy : public QObject
{
public:
    explicit PaintSpy(QWidget *widget) { widget->installEventFilter(this); }
    QRegion painted;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent *>(event)->region();
        return false;
    }
};

} // namespace

class TestSeeThrough : public QObject
{
    Q_OBJECT

private slots:
    void windowTiles_data();
    void windowTiles();
    void fieldsOfTheDesign();
    void halvesRoundToEven_data();
    void halvesRoundToEven();
    void outsideThePicture_data();
    void outsideThePicture();
    void secondCallRebuildsAndHooksOnce();
    void withoutPicture();
    void textOverTheTile_data();
    void textOverTheTile();
    void changesRepaintTheWholeField_data();
    void changesRepaintTheWholeField();
};

void TestSeeThrough::windowTiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("cut");

    QTest::newRow("log pane") << "logPane" << "mainWindow" << QRect(8, 104, 473, 233);
    QTest::newRow("folder") << "folderEdit" << "mainWindow" << QRect(64, 344, 345, 22);
    // Cut at their place in the frame, not on the window.
    QTest::newRow("start block") << "startEdit" << "dataRequestFrame" << QRect(120, 12, 33, 19);
    QTest::newRow("number of blocks") << "countEdit" << "dataRequestFrame" << QRect(120, 32, 33, 19);
}

void TestSeeThrough::windowTiles()
{
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QRect, cut);

    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    if (w.logicalDpiX() != 96 || w.logicalDpiY() != 96)
        QSKIP("the design's pixel sizes hold at 96 dpi");
    QWidget *field = w.control<QWidget>(name.toLatin1().constData());
    QVERIFY(SeeThrough::isHooked(field));
    QCOMPARE(field->parentWidget()->objectName(), container);
    QVERIFY(SeeThrough::isHooked(field->parentWidget()));

    const QImage tile = tileOf(field);
    QCOMPARE(tile.size(), cut.size());
    QCOMPARE(tile, w.picture().toImage().convertToFormat(QImage::Format_RGB32).copy(cut));
}

// The design's see-through fields, and no other control, show the picture.
void TestSeeThrough::fieldsOfTheDesign()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    for (const tarvik::Design::Control &c : tarvik::Design::controls()) {
        const bool seeThrough = c.flags & tarvik::Design::SeeThrough;
        QWidget *control = w.control<QWidget>(c.name);
        QVERIFY2(control, c.name);
        QVERIFY2((hookOn<SeeThrough::FieldHook>(control) != nullptr) == seeThrough, c.name);
        if (seeThrough)
            QVERIFY2(SeeThrough::backgroundTile(control).style() == Qt::TexturePattern, c.name);
    }
}

void TestSeeThrough::halvesRoundToEven_data()
{
    QTest::addColumn<QRectF>("twips");
    QTest::addColumn<QRect>("cut");

    // 15 twips to the pixel: 7.5 -> 8, 8.5 -> 8, 10.5 -> 10, 11.5 -> 12.
    QTest::newRow("left 7.5, top 8.5") << QRectF(112.5, 127.5, 300, 150) << QRect(8, 8, 20, 10);
    QTest::newRow("left 8.5, top 7.5") << QRectF(127.5, 112.5, 300, 150) << QRect(8, 8, 20, 10);
    QTest::newRow("width 10.5, height 11.5") << QRectF(150, 150, 157.5, 172.5) << QRect(10, 10, 10, 12);
    QTest::newRow("width 11.5, height 10.5") << QRectF(150, 150, 172.5, 157.5) << QRect(10, 10, 12, 10);
}

void TestSeeThrough::halvesRoundToEven()
{
    QFETCH(QRectF, twips);
    QFETCH(QRect, cut);

    const QPixmap picture = placePicture(100, 100);
    PictureForm f(picture);
    if (f.form.logicalDpiX() != 96 || f.form.logicalDpiY() != 96)
        QSKIP("the rows are worked out for 15 twips to the pixel");
    QLineEdit *field = f.field(twips);
    f.makeSeeThrough(field);
    QCOMPARE(tileOf(field), picture.toImage().convertToFormat(QImage::Format_RGB32).copy(cut));
}

void TestSeeThrough::outsideThePicture_data()
{
    QTest::addColumn<QRect>("place"); // pixels, in a picture of 40 x 30

    QTest::newRow("past the right and bottom edges") << QRect(30, 20, 20, 20);
    QTest::newRow("before the left and top edges") << QRect(-5, -8, 20, 20);
    QTest::newRow("wholly outside") << QRect(45, 0, 10, 10);
}

void TestSeeThrough::outsideThePicture()
{
    QFETCH(QRect, place);

    const QPixmap picture = placePicture(40, 30);
    PictureForm f(picture);
    const qreal perPixel = 1440.0 / f.form.logicalDpiX();
    QLineEdit *field = f.field(QRectF(place.x() * perPixel, place.y() * perPixel, place.width() * perPixel,
                                      place.height() * perPixel));
    f.makeSeeThrough(field);

    const QImage tile = tileOf(field);
    QCOMPARE(tile.size(), place.size());
    const QImage source = picture.toImage();
    const QRgb face = tarvik::colorFromOle(ButtonFace).rgb();
    for (int y = 0; y < tile.height(); ++y) {
        for (int x = 0; x < tile.width(); ++x) {
            const QPoint at = place.topLeft() + QPoint(x, y);
            const QRgb expected = source.rect().contains(at) ? source.pixel(at) : face;
            QVERIFY2(tile.pixel(x, y) == expected, qPrintable(QStringLiteral("tile pixel %1, %2").arg(x).arg(y)));
        }
    }
}

void TestSeeThrough::secondCallRebuildsAndHooksOnce()
{
    PictureForm f(placePicture(200, 200));
    QLineEdit *first = f.field(QRectF(150, 150, 600, 300));
    QLineEdit *second = f.field(QRectF(150, 600, 600, 300));

    f.makeSeeThrough(first);
    const auto *firstHook = hookOn<SeeThrough::FieldHook>(first);
    const auto *containerHook = hookOn<SeeThrough::ContainerHook>(&f.form);
    f.makeSeeThrough(second);

    // The picture changes; a second call cuts the tile anew from it.
    QPixmap plain(200, 200);
    plain.fill(Qt::darkGreen);
    f.picture = plain;
    f.makeSeeThrough(first);

    QCOMPARE(hookOn<SeeThrough::FieldHook>(first), firstHook);
    QCOMPARE(hookOn<SeeThrough::ContainerHook>(&f.form), containerHook);
    QCOMPARE(hooksOn<SeeThrough::FieldHook>(first), 1);
    QCOMPARE(hooksOn<SeeThrough::FieldHook>(second), 1);
    QCOMPARE(hooksOn<SeeThrough::ContainerHook>(&f.form), 1);
    QCOMPARE(tileOf(first).pixel(0, 0), QColor(Qt::darkGreen).rgb());
    QCOMPARE(tileOf(second).pixel(0, 0), qRgb(10, 40, 100));
}

// Without a picture the field is hooked but keeps its own background.
void TestSeeThrough::withoutPicture()
{
    QWidget form;
    auto *field = new QLineEdit(&form);
    const QColor base = field->palette().color(QPalette::Base);
    SeeThrough::makeSeeThrough(field, QPixmap());
    QVERIFY(SeeThrough::isHooked(field));
    QVERIFY(SeeThrough::isHooked(&form));
    QCOMPARE(SeeThrough::backgroundTile(field).style(), Qt::NoBrush);
    QCOMPARE(field->palette().color(QPalette::Base), base);
}

void TestSeeThrough::textOverTheTile_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::newRow("enabled") << true;
    QTest::newRow("disabled") << false;
}

// The tile fills the area inside the border, laid from its top-left corner,
// and the text stands on it without a background of its own.
void TestSeeThrough::textOverTheTile()
{
    QFETCH(bool, enabled);

    const QPixmap picture = placePicture(240, 200, true);
    PictureForm f(picture);
    const qreal perPixel = 1440.0 / f.form.logicalDpiX();
    QLineEdit *field = f.field(QRectF(20 * perPixel, 30 * perPixel, 150 * perPixel, 24 * perPixel));
    field->setText(QStringLiteral("MMMM"));
    QPalette palette = field->palette();
    palette.setColor(QPalette::Text, Qt::black);
    field->setPalette(palette);
    field->setEnabled(enabled);
    f.makeSeeThrough(field);
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));

    const int border = field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, field);
    const QRect client = field->geometry().adjusted(border, border, -border, -border);
    const QImage source = picture.toImage();
    const QImage tile = tileOf(field);
    const auto tileAt = [&](const QPoint &p) { return tile.pixel(p - client.topLeft()); };

    // Right of the text: the tile, shifted by the border against the picture around the field.
    const QPoint blank(client.right() - 10, client.center().y());
    QTRY_COMPARE(shown(&f.form).pixel(blank), tileAt(blank));
    QCOMPARE(tileAt(blank), source.pixel(blank - QPoint(border, border)));

    // Where the text is, its strokes and the tile between them.
    const QImage now = shown(&f.form);
    int stroke = 0;
    int tileShown = 0;
    const int textRight = client.left() + field->fontMetrics().horizontalAdvance(field->text());
    for (int x = client.left() + 1; x < textRight; ++x) {
        const QPoint p(x, client.center().y());
        if (now.pixel(p) == tileAt(p))
            ++tileShown;
        else if (qGray(now.pixel(p)) < 60)
            ++stroke;
    }
    QVERIFY2(stroke > 0, "no text drawn");
    QVERIFY2(tileShown > 0, "the text has a background of its own");
}

void TestSeeThrough::changesRepaintTheWholeField_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("text") << "text";
    QTest::newRow("caret") << "caret";
    QTest::newRow("selection") << "selection";
    QTest::newRow("focus") << "focus";
    QTest::newRow("scroll") << "scroll";
}

void TestSeeThrough::changesRepaintTheWholeField()
{
    QFETCH(QString, change);

    PictureForm f(placePicture(320, 240));
    QLineEdit *edit = f.field(QRectF(150, 150, 3000, 360));
    edit->setText(QStringLiteral("a line of text"));
    auto *log = new QPlainTextEdit(&f.form);
    log->setGeometry(10, 60, 200, 100);
    for (int i = 0; i < 50; ++i)
        log->appendPlainText(QStringLiteral("line %1").arg(i));
    auto *other = new QLineEdit(&f.form);
    other->setGeometry(10, 180, 100, 22);
    f.makeSeeThrough(edit);
    f.makeSeeThrough(log);
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    QApplication::setActiveWindow(&f.form);
    QVERIFY(QTest::qWaitForWindowActive(&f.form));
    other->setFocus();
    QTest::qWait(0);

    QWidget *target = change == "scroll" ? log->viewport() : edit;
    PaintSpy spy(target);
    if (change == "text")
        edit->setText(QStringLiteral("another"));
    else if (change == "caret")
        edit->setCursorPosition(3);
    else if (change == "selection")
        edit->setSelection(2, 3);
    else if (change == "focus")
        edit->setFocus();
    else
        log->verticalScrollBar()->setValue(log->verticalScrollBar()->value() - 3);
    QTRY_VERIFY(spy.painted.contains(target->rect()));
}

QTEST_MAIN(TestSeeThrough)
#include "tst_seethrough.moc"
