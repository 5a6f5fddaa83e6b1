// SPDX-License-Identifier: GPL-3.0-or-later
#include "transframe/frameline.h"
#include "transframe/transframe.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <stdexcept>

using namespace tarvik;

namespace {

constexpr quint32 ButtonShadow = 0x80000010;
constexpr quint32 Highlight3D = 0x80000014;

// A window whose picture tells at every pixel where it is.
class PictureWindow : public QWidget
{
public:
    PictureWindow()
        : m_image(320, 240, QImage::Format_RGB32)
    {
        for (int y = 0; y < m_image.height(); ++y) {
            for (int x = 0; x < m_image.width(); ++x)
                m_image.setPixelColor(x, y, at(x, y));
        }
        resize(m_image.size());
        m_client = new QWidget(this);
        m_client->setGeometry(rect());
    }

    static QColor at(int x, int y) { return QColor(x % 256, y % 256, 200); }
    QWidget *client() const { return m_client; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.drawImage(0, 0, m_image);
    }

private:
    QImage m_image;
    QWidget *m_client = nullptr;
};

// Loads a frame the way the window does: stored caption and font, ambient
// values, then its geometry.
TransFrame *loadFrame(QWidget *parent, const QString &name, const QRect &geometry,
                      qint32 backStyle = 0, bool running = true)
{
    auto *frame = new TransFrame(parent);
    frame->setObjectName(name);
    PropertyBag bag;
    bag.WriteProperty(QStringLiteral("caption"), name);
    bag.WriteProperty(QStringLiteral("BackStyle"), backStyle, 0);
    frame->ReadProperties(bag, AmbientProperties(parent->font(), name, running));
    frame->setTwipsPerPixel(15, 15);
    frame->setGeometry(geometry);
    return frame;
}

// A parent window holding one loaded frame of 200 x 100 pixels.
struct FrameOnParent
{
    explicit FrameOnParent(const QString &caption)
    {
        parent.resize(300, 200);
        frame = loadFrame(&parent, caption, QRect(10, 10, 200, 100));
    }

    QWidget parent;
    TransFrame *frame = nullptr;
};

// A paint notice of the parent outside any real paint.
void sendPaintNotice(QWidget *parent)
{
    QPaintEvent event(parent->rect());
    QCoreApplication::sendEvent(parent, &event);
}

FrameLine *lineOf(const TransFrame &frame, const QString &side, int index)
{
    if (side == QLatin1String("linTop"))
        return frame.topLine(index);
    if (side == QLatin1String("linLeft"))
        return frame.leftLine(index);
    if (side == QLatin1String("linRight"))
        return frame.rightLine(index);
    return frame.bottomLine(index);
}

QList<FrameLine *> allLines(const TransFrame &frame)
{
    QList<FrameLine *> lines;
    for (int i = 0; i < 2; ++i)
        lines << frame.topLine(i) << frame.leftLine(i) << frame.rightLine(i) << frame.bottomLine(i);
    return lines;
}

QStringList noticesOf(const QSignalSpy &spy)
{
    QStringList names;
    for (const QList<QVariant> &arguments : spy)
        names << arguments.at(0).toString();
    return names;
}

void logMouse(TransFrame *frame, QStringList *log)
{
    const auto record = [log](const char *name) {
        return [log, name](qint16 &button, qint16 &shift, float &x, float &y) {
            *log << QStringLiteral("%1 %2 %3 %4 %5").arg(QLatin1String(name)).arg(button).arg(shift)
                        .arg(x).arg(y);
        };
    };
    QObject::connect(frame, &TransFrame::MouseDown, frame, record("MouseDown"));
    QObject::connect(frame, &TransFrame::MouseUp, frame, record("MouseUp"));
    QObject::connect(frame, &TransFrame::MouseMove, frame, record("MouseMove"));
    QObject::connect(frame, &TransFrame::Click, frame, [log] { *log << QStringLiteral("Click"); });
    QObject::connect(frame, &TransFrame::DblClick, frame,
                     [log] { *log << QStringLiteral("DblClick"); });
}

// Lets the first notice pass to the frames hooked after it, keeps it from the
// ones hooked before it, and from then on lets through only the paints that
// arrive while that first notice is being handled.
class NoticeGate : public QObject
{
public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        if (event == first)
            return true;
        if (first) {
            ++nested;
            return false;
        }
        return true;
    }

    QEvent *first = nullptr;
    int nested = 0;
};

} // namespace

class TestTransFrame : public QObject
{
    Q_OBJECT

private slots:
    void interfaceOrder();
    void layout_data();
    void layout();
    void layoutOverflow_data();
    void layoutOverflow();
    void captionAndBorder_data();
    void captionAndBorder();

    void loadGivesEveryDefault();
    void saveFreshInstanceStoresOnlyTheFont();
    void saveAndLoadEveryProperty();
    void loadWithoutFontSizeOrName();
    void loadFailures_data();
    void loadFailures();
    void appearanceOverflow_data();
    void appearanceOverflow();

    void noticesOfInitAndLoad();
    void setterNotices_data();
    void setterNotices();

    void backdropStateTable_data();
    void backdropStateTable();
    void backdropIsWhatTheWindowShowsBeneath();
    void nestedParentPaint();
    void backdropFollowsRealPaints();
    void noBackdropAtDesignTime();

    void mouseInput_data();
    void mouseInput();
    void doubleClick();
    void mouseArgumentsByReference();
    void keyInput_data();
    void keyInput();
    void keysOfHeldControlsRaiseNothing();
};

void TestTransFrame::interfaceOrder()
{
    const QMetaObject &meta = TransFrame::staticMetaObject;
    QStringList names;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i)
        names << QString::fromLatin1(meta.property(i).name());
    QCOMPARE(names, QStringList({"BackColor", "ForeColor", "Enabled", "Font", "BorderStyle",
                                 "Caption", "Appearance", "Controls", "FontUnderline",
                                 "FontTransparent", "FontStrikethru", "FontSize", "FontName",
                                 "FontItalic", "FontBold", "hWnd", "MouseIcon", "MousePointer",
                                 "BackStyle"}));
}

void TestTransFrame::layout_data()
{
    QTest::addColumn<QString>("side");
    QTest::addColumn<int>("index");
    QTest::addColumn<QLineF>("ends");
    QTest::addColumn<QRect>("pixels");
    QTest::addColumn<quint32>("color");

    QTest::newRow("linTop(0)") << "linTop" << 0 << QLineF(0, 97, 2055, 97) << QRect(0, 6, 137, 1)
                               << ButtonShadow;
    QTest::newRow("linTop(1)") << "linTop" << 1 << QLineF(0, 112, 2055, 112)
                               << QRect(0, 7, 137, 1) << Highlight3D;
    QTest::newRow("linLeft(0)") << "linLeft" << 0 << QLineF(0, 97, 0, 855) << QRect(0, 6, 1, 51)
                                << ButtonShadow;
    QTest::newRow("linLeft(1)") << "linLeft" << 1 << QLineF(15, 112, 15, 855)
                                << QRect(1, 7, 1, 50) << Highlight3D;
    QTest::newRow("linBottom(0)") << "linBottom" << 0 << QLineF(0, 840, 2055, 840)
                                  << QRect(0, 56, 137, 1) << Highlight3D;
    QTest::newRow("linBottom(1)") << "linBottom" << 1 << QLineF(0, 825, 2040, 825)
                                  << QRect(0, 55, 136, 1) << ButtonShadow;
    QTest::newRow("linRight(0)") << "linRight" << 0 << QLineF(2040, 97, 2040, 840)
                                 << QRect(136, 6, 1, 50) << Highlight3D;
    QTest::newRow("linRight(1)") << "linRight" << 1 << QLineF(2025, 97, 2025, 855)
                                 << QRect(135, 6, 1, 51) << ButtonShadow;
}

// 96 dpi: a frame of 2055 x 855 twips whose caption is 195 twips high.
void TestTransFrame::layout()
{
    QFETCH(QString, side);
    QFETCH(int, index);
    QFETCH(QLineF, ends);
    QFETCH(QRect, pixels);
    QFETCH(quint32, color);

    QWidget parent;
    parent.resize(300, 200);
    auto *frame = loadFrame(&parent, QStringLiteral("COM Control"), QRect(10, 10, 50, 50));
    frame->captionLabel()->setFixedHeight(13);
    parent.show();
    frame->resize(137, 57);

    const FrameLine *line = lineOf(*frame, side, index);
    QCOMPARE(QLineF(line->x1(), line->y1(), line->x2(), line->y2()), ends);
    QCOMPARE(line->geometry(), pixels);
    QCOMPARE(line->borderColor(), color);
    QCOMPARE(line->index(), index);
    QCOMPARE(frame->captionLabel()->pos() * 15, QPoint(135, 0));
}

void TestTransFrame::layoutOverflow_data()
{
    QTest::addColumn<qreal>("twips");
    QTest::addColumn<bool>("overflows");

    QTest::newRow("9 p = 32760") << qreal(3640) << false;
    QTest::newRow("9 p = 32769") << qreal(3641) << true;
    QTest::newRow("p beyond 16 bits") << qreal(40000) << true;
}

void TestTransFrame::layoutOverflow()
{
    QFETCH(qreal, twips);
    QFETCH(bool, overflows);

    QWidget parent;
    auto *frame = loadFrame(&parent, QStringLiteral("Serial Port"), QRect(0, 0, 113, 57));
    const QRect before = frame->bottomLine(0)->geometry();
    const QPoint captionBefore = frame->captionLabel()->pos();

    if (overflows) {
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, frame->setTwipsPerPixel(twips, 15));
        QCOMPARE(frame->twipsPerPixelX(), qreal(15));
        QCOMPARE(frame->bottomLine(0)->geometry(), before);
        QCOMPARE(frame->captionLabel()->pos(), captionBefore);
    } else {
        frame->setTwipsPerPixel(twips, 15);
        QCOMPARE(frame->twipsPerPixelX(), twips);
        QCOMPARE(frame->topLine(1)->y1(), frame->topLine(0)->y1() + 3640);
    }
}

void TestTransFrame::captionAndBorder_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QList<int>>("borderStyles");
    QTest::addColumn<bool>("captionLast");
    QTest::addColumn<QString>("labelText");
    QTest::addColumn<bool>("labelShown");
    QTest::addColumn<bool>("linesShown");

    QTest::newRow("caption") << "Serial Port" << QList<int>{1} << false << " Serial Port " << true
                             << true;
    QTest::newRow("empty caption keeps the lines") << "" << QList<int>{1} << false << "  "
                                                   << false << true;
    QTest::newRow("border 0 hides both") << "Serial Port" << QList<int>{0} << false
                                         << " Serial Port " << false << false;
    QTest::newRow("border 2 hides both") << "Serial Port" << QList<int>{2} << false
                                         << " Serial Port " << false << false;
    QTest::newRow("border back to 1") << "Serial Port" << QList<int>{0, 1} << false
                                      << " Serial Port " << true << true;
    QTest::newRow("caption set while border 0") << "About" << QList<int>{0} << true << " About "
                                                << false << false;
    QTest::newRow("caption set after border back to 1") << "About" << QList<int>{0, 1} << true
                                                        << " About " << true << true;
    QTest::newRow("empty caption, border back to 1") << "" << QList<int>{0, 1} << false << "  "
                                                     << false << true;
}

void TestTransFrame::captionAndBorder()
{
    QFETCH(QString, caption);
    QFETCH(QList<int>, borderStyles);
    QFETCH(bool, captionLast);
    QFETCH(QString, labelText);
    QFETCH(bool, labelShown);
    QFETCH(bool, linesShown);

    TransFrame frame;
    if (!captionLast)
        frame.setCaption(caption);
    for (int style : borderStyles)
        frame.setBorderStyle(style);
    if (captionLast)
        frame.setCaption(caption);

    QCOMPARE(frame.caption(), caption);
    QCOMPARE(frame.captionLabel()->text(), labelText);
    QCOMPARE(!frame.captionLabel()->isHidden(), labelShown);
    for (const FrameLine *line : allLines(frame))
        QCOMPARE(!line->isHidden(), linesShown);
}

// The shape of every frame on the main window, loaded into a frame whose
// values were all set away from their defaults.
void TestTransFrame::loadGivesEveryDefault()
{
    TransFrame frame;
    frame.setBackColor(0xFF);
    frame.setForeColor(0xFF00);
    frame.setEnabled(false);
    frame.setBorderStyle(3);
    frame.setAppearance(0);
    frame.setFontUnderline(true);
    frame.setFontTransparent(false);
    frame.setFontStrikethru(true);
    frame.setFontItalic(true);
    frame.setFontBold(true);
    frame.setMouseIcon(std::make_shared<const QPixmap>(16, 16));
    frame.setMousePointer(11);
    frame.setBackStyle(1);

    const FontRef font = makeFontObject(QFont(QStringLiteral("MS Sans Serif")));
    font->size = 8.25f;
    PropertyBag bag;
    bag.WriteProperty(QStringLiteral("_extentx"), 3625);
    bag.WriteProperty(QStringLiteral("_extenty"), 1508);
    bag.WriteProperty(QStringLiteral("font"), QVariant::fromValue(font));
    bag.WriteProperty(QStringLiteral("caption"), QStringLiteral("COM Control"));
    bag.WriteProperty(QStringLiteral("fontsize"), 8.25);
    bag.WriteProperty(QStringLiteral("fontname"), QStringLiteral("MS Sans Serif"));
    frame.ReadProperties(bag, AmbientProperties(QFont(QStringLiteral("Sans"), 9),
                                                QStringLiteral("openCloseFrame"), true));

    QCOMPARE(frame.backColor(), 0x8000000Fu);
    QCOMPARE(frame.foreColor(), 0x80000012u);
    QVERIFY(frame.enabled());
    QVERIFY(frame.isEnabled());
    QCOMPARE(frame.fontObject(), font);
    QCOMPARE(frame.borderStyle(), 1);
    QCOMPARE(frame.caption(), QStringLiteral("COM Control"));
    QCOMPARE(frame.appearance(), 1);
    QVERIFY(!frame.fontUnderline());
    QVERIFY(frame.fontTransparent());
    QVERIFY(!frame.fontStrikethru());
    QCOMPARE(frame.fontSize(), 8.25f);
    QCOMPARE(frame.fontName(), QStringLiteral("MS Sans Serif"));
    QVERIFY(!frame.fontItalic());
    QVERIFY(!frame.fontBold());
    QVERIFY(!frame.mouseIcon());
    QCOMPARE(frame.mousePointer(), 0);
    QCOMPARE(frame.cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(frame.backStyle(), 0);
    QVERIFY(!frame.captionLabel()->isHidden());
}

void TestTransFrame::saveFreshInstanceStoresOnlyTheFont()
{
    const AmbientProperties ambient(QFont(QStringLiteral("Sans"), 9), QStringLiteral("headerFrame"),
                                    true);
    TransFrame frame;
    frame.InitProperties(ambient);
    QCOMPARE(frame.caption(), QStringLiteral("headerFrame"));
    QCOMPARE(frame.borderStyle(), 1);
    QCOMPARE(frame.backStyle(), 0);

    PropertyBag bag;
    frame.WriteProperties(bag, ambient);
    QCOMPARE(bag.keys(), QStringList({"Font", "FontSize", "FontName"}));
    QCOMPARE(bag.ReadProperty(QStringLiteral("FontSize")).toFloat(), 9.0f);
    QCOMPARE(bag.ReadProperty(QStringLiteral("FontName")).toString(), QStringLiteral("Sans"));
}

void TestTransFrame::saveAndLoadEveryProperty()
{
    const AmbientProperties ambient(QFont(QStringLiteral("Sans"), 9), QStringLiteral("aboutFrame"),
                                    true);
    const FontRef font = makeFontObject(QFont(QStringLiteral("Serif"), 12));
    const PictureRef icon = std::make_shared<const QPixmap>(32, 32);
    TransFrame saved;
    saved.InitProperties(ambient);
    saved.setBackColor(0x00E0E0E0);
    saved.setForeColor(0x000000FF);
    saved.setEnabled(false);
    saved.setFontObject(font);
    saved.setBorderStyle(0);
    saved.setCaption(QStringLiteral("About"));
    saved.setAppearance(0);
    saved.setFontUnderline(true);
    saved.setFontTransparent(false);
    saved.setFontStrikethru(true);
    saved.setFontSize(10.5f);
    saved.setFontName(QStringLiteral("Mono"));
    saved.setFontItalic(true);
    saved.setFontBold(true);
    saved.setMouseIcon(icon);
    saved.setMousePointer(99);
    saved.setBackStyle(1);

    PropertyBag bag;
    saved.WriteProperties(bag, ambient);
    QCOMPARE(bag.keys().size(), 17);

    TransFrame loaded;
    loaded.ReadProperties(bag, ambient);
    const QMetaObject &meta = TransFrame::staticMetaObject;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
        const QMetaProperty property = meta.property(i);
        if (!property.isWritable())
            continue;
        QVERIFY2(PropertyBag::sameValue(property.read(&loaded), property.read(&saved)),
                 property.name());
    }
    QCOMPARE(loaded.fontObject(), font);
    QCOMPARE(loaded.cursor().pixmap().size(), QSize(32, 32));
}

// Stored data without "FontSize" hands the frame a size of 0; the widget
// still gets a font of a size that can be drawn.
void TestTransFrame::loadWithoutFontSizeOrName()
{
    PropertyBag bag;
    bag.WriteProperty(QStringLiteral("caption"), QStringLiteral("Data Request"));
    bag.WriteProperty(QStringLiteral("font"),
                      QVariant::fromValue(makeFontObject(QFont(QStringLiteral("Serif"), 14))));
    TransFrame frame;
    frame.ReadProperties(bag, AmbientProperties());

    QCOMPARE(frame.fontSize(), 0.0f);
    QCOMPARE(frame.fontName(), QString());
    QVERIFY(frame.font().pointSizeF() > 0);

    PropertyBag saved;
    frame.WriteProperties(saved, AmbientProperties());
    QVERIFY(!saved.contains(QStringLiteral("FontSize")));
    QVERIFY(!saved.contains(QStringLiteral("FontName")));
}

void TestTransFrame::loadFailures_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("overflow");

    QTest::newRow("Appearance above 16 bits") << "appearance" << QVariant(40000) << true;
    QTest::newRow("MousePointer below 16 bits") << "mousepointer" << QVariant(-40000) << true;
    QTest::newRow("BackColor beyond 32 bits") << "backcolor" << QVariant(qint64(1) << 33) << true;
    QTest::newRow("BorderStyle not a number") << "borderstyle" << QVariant(QStringLiteral("thick"))
                                              << false;
}

void TestTransFrame::loadFailures()
{
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(bool, overflow);

    PropertyBag bag;
    bag.WriteProperty(key, value);
    TransFrame frame;
    if (overflow)
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, frame.ReadProperties(bag, AmbientProperties()));
    else
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                                 frame.ReadProperties(bag, AmbientProperties()));
}

void TestTransFrame::appearanceOverflow_data()
{
    QTest::addColumn<qint32>("value");
    QTest::addColumn<bool>("overflows");

    QTest::newRow("32767") << 32767 << false;
    QTest::newRow("32768") << 32768 << true;
    QTest::newRow("-32768") << -32768 << false;
    QTest::newRow("-32769") << -32769 << true;
}

void TestTransFrame::appearanceOverflow()
{
    QFETCH(qint32, value);
    QFETCH(bool, overflows);

    TransFrame frame;
    QSignalSpy notices(&frame, &TransFrame::PropertyChanged);
    if (overflows) {
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, frame.setAppearance(value));
        QCOMPARE(frame.appearance(), 1);
        QCOMPARE(notices.count(), 0);
    } else {
        frame.setAppearance(value);
        QCOMPARE(frame.appearance(), value);
        QCOMPARE(noticesOf(notices), QStringList{"Appearance"});
    }
}

void TestTransFrame::noticesOfInitAndLoad()
{
    TransFrame fresh;
    QSignalSpy initNotices(&fresh, &TransFrame::PropertyChanged);
    fresh.InitProperties(AmbientProperties(QFont(), QStringLiteral("dataRequestFrame"), true));
    QCOMPARE(noticesOf(initNotices), QStringList({"Caption", "BorderStyle"}));

    TransFrame stored;
    QSignalSpy loadNotices(&stored, &TransFrame::PropertyChanged);
    PropertyBag bag;
    bag.WriteProperty(QStringLiteral("caption"), QStringLiteral("Data Request"));
    stored.ReadProperties(bag, AmbientProperties(QFont(), QStringLiteral("dataRequestFrame"), true));
    QCOMPARE(noticesOf(loadNotices), QStringList({"BorderStyle", "Caption", "MouseIcon"}));
}

void TestTransFrame::setterNotices_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariant>("value");

    QTest::newRow("BackColor") << "BackColor" << QVariant(quint32(0xFF));
    QTest::newRow("ForeColor") << "ForeColor" << QVariant(quint32(0xFF00));
    QTest::newRow("Enabled") << "Enabled" << QVariant(false);
    QTest::newRow("Font") << "Font" << QVariant::fromValue(makeFontObject(QFont()));
    QTest::newRow("BorderStyle") << "BorderStyle" << QVariant(qint32(0));
    QTest::newRow("Caption") << "Caption" << QVariant(QStringLiteral("About"));
    QTest::newRow("Appearance") << "Appearance" << QVariant(qint32(0));
    QTest::newRow("FontUnderline") << "FontUnderline" << QVariant(true);
    QTest::newRow("FontTransparent") << "FontTransparent" << QVariant(false);
    QTest::newRow("FontStrikethru") << "FontStrikethru" << QVariant(true);
    QTest::newRow("FontSize") << "FontSize" << QVariant(12.0f);
    QTest::newRow("FontName") << "FontName" << QVariant(QStringLiteral("Serif"));
    QTest::newRow("FontItalic") << "FontItalic" << QVariant(true);
    QTest::newRow("FontBold") << "FontBold" << QVariant(true);
    QTest::newRow("MouseIcon") << "MouseIcon"
                               << QVariant::fromValue(std::make_shared<const QPixmap>(8, 8));
    QTest::newRow("MousePointer") << "MousePointer" << QVariant(qint16(2));
    QTest::newRow("BackStyle") << "BackStyle" << QVariant(qint32(1));
}

void TestTransFrame::setterNotices()
{
    QFETCH(QString, name);
    QFETCH(QVariant, value);

    TransFrame frame;
    QSignalSpy notices(&frame, &TransFrame::PropertyChanged);
    QVERIFY(frame.setProperty(name.toLatin1().constData(), value));
    QCOMPARE(noticesOf(notices), QStringList{name});
    QVERIFY(PropertyBag::sameValue(frame.property(name.toLatin1().constData()), value));
}

void TestTransFrame::backdropStateTable_data()
{
    QTest::addColumn<bool>("appliedBefore");
    QTest::addColumn<qint32>("backStyle");
    QTest::addColumn<bool>("newPicture");
    QTest::addColumn<bool>("appliedAfter");

    QTest::newRow("false, BackStyle 0: capture") << false << 0 << true << true;
    QTest::newRow("false, BackStyle 1: none") << false << 1 << false << false;
    QTest::newRow("true, BackStyle 0: keep") << true << 0 << false << true;
    QTest::newRow("true, BackStyle 1: remove") << true << 1 << false << false;
}

void TestTransFrame::backdropStateTable()
{
    QFETCH(bool, appliedBefore);
    QFETCH(qint32, backStyle);
    QFETCH(bool, newPicture);
    QFETCH(bool, appliedAfter);

    PictureWindow window;
    auto *frame = loadFrame(window.client(), QStringLiteral("Serial Port"), QRect(20, 20, 113, 57), 1);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!frame->backdropApplied());

    if (appliedBefore) {
        frame->setBackStyle(0);
        sendPaintNotice(window.client());
        QVERIFY(frame->backdropApplied());
    }
    const PictureRef before = frame->picture();
    frame->setBackStyle(backStyle);
    QCOMPARE(frame->picture(), before);
    sendPaintNotice(window.client());

    QCOMPARE(frame->backdropApplied(), appliedAfter);
    if (!appliedAfter)
        QVERIFY(!frame->picture());
    else if (newPicture)
        QVERIFY(frame->picture() && frame->picture() != before);
    else
        QCOMPARE(frame->picture(), before);
}

// The backdrop holds what the window shows beneath the frame, its siblings
// included and its own controls left out; the frame keeps its focus and
// visibility meanwhile.
void TestTransFrame::backdropIsWhatTheWindowShowsBeneath()
{
    PictureWindow window;
    auto *sibling = new QWidget(window.client());
    sibling->setAutoFillBackground(true);
    sibling->setPalette(QPalette(Qt::green));
    sibling->setGeometry(10, 60, 20, 20);
    auto *frame = loadFrame(window.client(), QStringLiteral("Serial Port"), QRect(20, 30, 150, 80), 1);
    auto *held = new QWidget(frame);
    held->setAutoFillBackground(true);
    held->setPalette(QPalette(Qt::red));
    held->setGeometry(60, 30, 30, 20);
    auto *edit = new QLineEdit(frame);
    edit->setGeometry(100, 30, 40, 20);
    auto *hidden = loadFrame(window.client(), QStringLiteral("About"), QRect(180, 30, 100, 80), 1);
    hidden->hide();

    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    edit->setFocus();
    QVERIFY(edit->hasFocus());

    frame->setBackStyle(0);
    hidden->setBackStyle(0);
    sendPaintNotice(window.client());
    QVERIFY(frame->backdropApplied());
    QVERIFY(hidden->backdropApplied());
    QVERIFY(edit->hasFocus());
    QVERIFY(frame->isVisible());
    QVERIFY(hidden->isHidden());

    const QImage picture = frame->picture()->toImage();
    QCOMPARE(picture.size(), QSize(150, 80));
    QCOMPARE(picture.pixelColor(70, 40), PictureWindow::at(90, 70)); // beneath the held control
    QCOMPARE(picture.pixelColor(5, 35), QColor(Qt::green));          // the sibling
    QCOMPARE(picture.pixelColor(140, 70), PictureWindow::at(160, 100));

    const QImage shown = frame->grab().toImage();
    QCOMPARE(shown.pixelColor(30, 50), PictureWindow::at(50, 80));
    QCOMPARE(shown.pixelColor(70, 40), QColor(Qt::red));
}

// The parent paints again while a frame takes its backdrop: that paint does
// nothing for this frame but reaches the next one.
void TestTransFrame::nestedParentPaint()
{
    PictureWindow window;
    auto *second = loadFrame(window.client(), QStringLiteral("About"), QRect(20, 130, 200, 60), 1);
    NoticeGate gate;
    window.client()->installEventFilter(&gate);
    auto *first = loadFrame(window.client(), QStringLiteral("Serial Port"), QRect(20, 20, 113, 57), 1);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCoreApplication::processEvents();
    first->setBackStyle(0);
    second->setBackStyle(0);

    QPaintEvent notice(window.client()->rect());
    gate.first = &notice;
    QCoreApplication::sendEvent(window.client(), &notice);
    gate.first = nullptr;

    QVERIFY(gate.nested > 0);
    QVERIFY(first->backdropApplied());
    const PictureRef picture = first->picture();
    QVERIFY(!second->backdropApplied());
    QTRY_VERIFY(second->backdropApplied());
    QCOMPARE(first->picture(), picture);
}

void TestTransFrame::backdropFollowsRealPaints()
{
    PictureWindow window;
    auto *frame = loadFrame(window.client(), QStringLiteral("Serial Port"), QRect(20, 20, 113, 57));
    auto *other = loadFrame(window.client(), QStringLiteral("Data Request"), QRect(140, 20, 169, 57));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(frame->backdropApplied());
    QTRY_VERIFY(other->backdropApplied());
    QCOMPARE(frame->grab().toImage().pixelColor(50, 30), PictureWindow::at(70, 50));

    const PictureRef first = frame->picture();
    frame->resize(150, 90);
    window.client()->repaint();
    QCOMPARE(frame->picture(), first);
    QCOMPARE(frame->picture()->size(), QSize(113, 57));

    frame->setBackStyle(1);
    QCOMPARE(frame->picture(), first);
    window.client()->repaint();
    QVERIFY(!frame->backdropApplied());
    QVERIFY(!frame->picture());

    frame->setBackStyle(0);
    window.client()->repaint();
    QTRY_VERIFY(frame->backdropApplied());
    QVERIFY(frame->picture() != first);
    QCOMPARE(frame->picture()->size(), QSize(150, 90));
}

void TestTransFrame::noBackdropAtDesignTime()
{
    PictureWindow window;
    auto *frame = loadFrame(window.client(), QStringLiteral("Serial Port"), QRect(20, 20, 113, 57),
                            0, false);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    sendPaintNotice(window.client());
    window.client()->repaint();
    QVERIFY(!frame->backdropApplied());
    QVERIFY(!frame->picture());
}

void TestTransFrame::mouseInput_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("surface") << "surface" << QPoint(40, 50)
                             << QStringList({"MouseDown 1 0 600 750", "MouseUp 1 0 600 750", "Click"});
    QTest::newRow("border line") << "surface" << QPoint(0, 50)
                                 << QStringList({"MouseDown 1 0 0 750", "MouseUp 1 0 0 750", "Click"});
    QTest::newRow("caption") << "caption" << QPoint(5, 5) << QStringList();
    QTest::newRow("held control") << "held" << QPoint(5, 5) << QStringList();
}

void TestTransFrame::mouseInput()
{
    QFETCH(QString, target);
    QFETCH(QPoint, pos);
    QFETCH(QStringList, expected);

    FrameOnParent fixture(QStringLiteral("Serial Port"));
    QWidget &parent = fixture.parent;
    TransFrame *frame = fixture.frame;
    auto *held = new QLabel(QStringLiteral("Start with Block"), frame);
    held->setGeometry(100, 50, 90, 20);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QStringList log;
    logMouse(frame, &log);

    QWidget *widget = frame;
    if (target == QLatin1String("caption"))
        widget = frame->captionLabel();
    else if (target == QLatin1String("held"))
        widget = held;
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, pos);
    QCOMPARE(log, expected);
}

void TestTransFrame::doubleClick()
{
    FrameOnParent fixture(QStringLiteral("Serial Port"));
    QWidget &parent = fixture.parent;
    TransFrame *frame = fixture.frame;
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QStringList log;
    logMouse(frame, &log);

    // A double click arrives as press, release, double click, release.
    const QPoint pos(20, 40);
    QTest::mouseClick(frame, Qt::LeftButton, Qt::ShiftModifier, pos);
    QTest::mouseDClick(frame, Qt::LeftButton, Qt::ShiftModifier, pos);
    QTest::mouseRelease(frame, Qt::LeftButton, Qt::ShiftModifier, pos);
    QCOMPARE(log, QStringList({"MouseDown 1 1 300 600", "MouseUp 1 1 300 600", "Click", "DblClick",
                               "MouseUp 1 1 300 600"}));
}

void TestTransFrame::mouseArgumentsByReference()
{
    FrameOnParent fixture(QStringLiteral("Serial Port"));
    QWidget &parent = fixture.parent;
    TransFrame *frame = fixture.frame;
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    connect(frame, &TransFrame::MouseDown, frame, [](qint16 &button, qint16 &shift, float &x, float &y) {
        button = 4;
        shift = 2;
        x = 1;
        y = 2;
    });
    QStringList log;
    logMouse(frame, &log);

    QTest::mousePress(frame, Qt::LeftButton, Qt::NoModifier, QPoint(40, 50));
    QCOMPARE(log, QStringList{"MouseDown 4 2 1 2"});
    QTest::mouseRelease(frame, Qt::LeftButton, Qt::NoModifier, QPoint(40, 50));
}

void TestTransFrame::keyInput_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("handlerZeroes");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("swallowed");

    QTest::newRow("letter goes on") << int(Qt::Key_A) << "a" << false
                                    << QStringList({"KeyDown 65 0", "KeyPress 97", "seen 97"})
                                    << false;
    QTest::newRow("letter swallowed") << int(Qt::Key_A) << "a" << true
                                      << QStringList({"KeyDown 65 0", "KeyPress 97", "seen 0"})
                                      << true;
    QTest::newRow("Enter") << int(Qt::Key_Return) << "\r" << false
                           << QStringList({"KeyDown 13 0", "KeyPress 13", "seen 13"}) << false;
    QTest::newRow("F5 has no character") << int(Qt::Key_F5) << "" << false
                                         << QStringList({"KeyDown 116 0"}) << false;
}

// A handler that sets character to 0 changes it for later handlers and for
// the key event itself, which then goes no further.
void TestTransFrame::keyInput()
{
    QFETCH(int, key);
    QFETCH(QString, text);
    QFETCH(bool, handlerZeroes);
    QFETCH(QStringList, expected);
    QFETCH(bool, swallowed);

    TransFrame frame;
    QStringList log;
    connect(&frame, &TransFrame::KeyDown, &frame, [&log](qint16 &code, qint16 &shift) {
        log << QStringLiteral("KeyDown %1 %2").arg(code).arg(shift);
    });
    connect(&frame, &TransFrame::KeyPress, &frame, [&log, handlerZeroes](qint16 &ascii) {
        log << QStringLiteral("KeyPress %1").arg(ascii);
        if (handlerZeroes)
            ascii = 0;
    });
    connect(&frame, &TransFrame::KeyPress, &frame,
            [&log](qint16 &ascii) { log << QStringLiteral("seen %1").arg(ascii); });

    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(&frame, &press);
    QCOMPARE(log, expected);
    QCOMPARE(press.isAccepted(), swallowed);
}

void TestTransFrame::keysOfHeldControlsRaiseNothing()
{
    FrameOnParent fixture(QStringLiteral("Data Request"));
    QWidget &parent = fixture.parent;
    TransFrame *frame = fixture.frame;
    auto *edit = new QLineEdit(frame);
    edit->setGeometry(20, 30, 60, 20);
    parent.show();
    parent.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&parent));
    edit->setFocus();
    QVERIFY(edit->hasFocus());
    int raised = 0;
    connect(frame, &TransFrame::KeyDown, frame, [&raised](qint16 &, qint16 &) { ++raised; });
    connect(frame, &TransFrame::KeyUp, frame, [&raised](qint16 &, qint16 &) { ++raised; });

    QTest::keyClick(edit, Qt::Key_F5);
    QCOMPARE(raised, 0);
}

QTEST_MAIN(TestTransFrame)
#include "tst_transframe.moc"
