// SPDX-License-Identifier: GPL-3.0-or-later
// The window looks the same whatever palette and style the desktop's theme
// hands the application: built under a dark theme, or with the theme changed
// while it runs, it draws exactly as under the default, its text stays dark
// on the light photograph, and the dialogs opened on it stay the desktop's.
#include "support/scriptedprompts.h"
#include "transframe/colors.h"
#include "transframe/transframe.h"
#include "window/fixedlook.h"
#include "window/logpane.h"
#include "window/mainwindow.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QStyleFactory>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

using tarvik::FixedLook;
using tarvik::LogPane;
using tarvik::MainWindow;

namespace {

enum class Theme {
    Default,
    DarkBeforeShow, // a dark palette for the application and its classes of widgets
    DarkAfterShow,
    OtherStyleBeforeShow, // another application style, with its own palette
    OtherStyleAfterShow,
};

// The classes of widgets for which a desktop theme may hand out palettes of their own.
const char *const ThemedClasses[] = {
    "QAbstractButton", "QPushButton", "QCheckBox", "QLabel", "QLineEdit", "QTextEdit",
    "QPlainTextEdit", "QAbstractItemView", "QComboBox", "QMenu", "QScrollBar", "QProgressBar",
};

QPalette darkPalette()
{
    QPalette dark(QColor(53, 53, 53));
    dark.setColor(QPalette::Window, QColor(53, 53, 53));
    dark.setColor(QPalette::WindowText, QColor(238, 238, 236));
    dark.setColor(QPalette::Base, QColor(45, 45, 45));
    dark.setColor(QPalette::AlternateBase, QColor(60, 60, 60));
    dark.setColor(QPalette::Text, QColor(238, 238, 236));
    dark.setColor(QPalette::Button, QColor(60, 60, 60));
    dark.setColor(QPalette::ButtonText, QColor(238, 238, 236));
    dark.setColor(QPalette::Light, QColor(80, 80, 80));
    dark.setColor(QPalette::Midlight, QColor(70, 70, 70));
    dark.setColor(QPalette::Mid, QColor(40, 40, 40));
    dark.setColor(QPalette::Dark, QColor(25, 25, 25));
    dark.setColor(QPalette::Shadow, QColor(10, 10, 10));
    dark.setColor(QPalette::Highlight, QColor(21, 83, 158));
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(140, 140, 140));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(140, 140, 140));
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(140, 140, 140));
    return dark;
}

// What the application had before a test changed its theme.
struct DesktopTheme
{
    QPalette appPalette;
    QHash<QByteArray, QPalette> classPalettes;
    QString styleName;

    void remember()
    {
        appPalette = QApplication::palette();
        for (const char *name : ThemedClasses)
            classPalettes.insert(name, QApplication::palette(name));
        styleName = QApplication::style()->name();
    }

    void restore() const
    {
        if (QApplication::style()->name() != styleName)
            QApplication::setStyle(QStyleFactory::create(styleName));
        for (auto it = classPalettes.cbegin(); it != classPalettes.cend(); ++it)
            QApplication::setPalette(it.value(), it.key().constData());
        QApplication::setPalette(appPalette);
    }

    static void change(Theme theme)
    {
        switch (theme) {
        case Theme::Default:
            break;
        case Theme::DarkBeforeShow:
        case Theme::DarkAfterShow:
            QApplication::setPalette(darkPalette());
            for (const char *name : ThemedClasses)
                QApplication::setPalette(darkPalette(), name);
            break;
        case Theme::OtherStyleBeforeShow:
        case Theme::OtherStyleAfterShow:
            QApplication::setStyle(QStyleFactory::create(QStringLiteral("Windows")));
            break;
        }
    }
};

bool afterShow(Theme theme)
{
    return theme == Theme::DarkAfterShow || theme == Theme::OtherStyleAfterShow;
}

// The window built, shown and drawn once, with the theme changed before it
// was built or after it was first drawn.
struct ThemedForm
{
    explicit ThemedForm(Theme theme)
    {
        if (!afterShow(theme))
            DesktopTheme::change(theme);
        // The same folder text in every window, drawn alike.
        prompts.machine = tarvik::MachineFolders{QStringLiteral("/nowhere/tarvik"), QString(), QStringLiteral("/nowhere")};
        w = std::make_unique<MainWindow>(&prompts);
        w->show();
        if (!QTest::qWaitForWindowExposed(w.get()))
            return;
        const auto frames = w->findChildren<tarvik::TransFrame *>();
        if (!QTest::qWaitFor([&frames] {
                return std::all_of(frames.cbegin(), frames.cend(),
                                   [](const tarvik::TransFrame *f) { return f->backdropApplied(); });
            }))
            return;
        if (afterShow(theme)) {
            DesktopTheme::change(theme);
            QCoreApplication::processEvents();
        }
        ready = true;
    }

    ScriptedPrompts prompts;
    std::unique_ptr<MainWindow> w;
    bool ready = false;
};

QImage rgb(const QPixmap &pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_RGB32);
}

// Pixels that differ by more than antialiasing would (a few steps of a channel).
int changedPixels(const QImage &a, const QImage &b, QPoint *first)
{
    if (a.size() != b.size())
        return a.width() * a.height();
    int changed = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            if (qAbs(qRed(p) - qRed(q)) > 8 || qAbs(qGreen(p) - qGreen(q)) > 8
                || qAbs(qBlue(p) - qBlue(q)) > 8) {
                if (changed++ == 0)
                    *first = QPoint(x, y);
            }
        }
    }
    return changed;
}

QString describeChange(const QImage &expected, const QImage &actual)
{
    QPoint first;
    const int changed = changedPixels(expected, actual, &first);
    if (changed == 0)
        return QString();
    return QStringLiteral("%1 of %2 pixels changed, the first at %3, %4")
            .arg(changed)
            .arg(expected.width() * expected.height())
            .arg(first.x())
            .arg(first.y());
}

double linear(int channel)
{
    const double c = channel / 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(QRgb color)
{
    return 0.2126 * linear(qRed(color)) + 0.7152 * linear(qGreen(color)) + 0.0722 * linear(qBlue(color));
}

// The WCAG contrast ratio of two colours, from 1 (none) to 21.
double contrast(QRgb a, QRgb b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

QRgb mean(const QImage &image, const QList<QPoint> &points)
{
    qint64 r = 0, g = 0, b = 0;
    for (const QPoint &p : points) {
        const QRgb c = image.pixel(p);
        r += qRed(c);
        g += qGreen(c);
        b += qBlue(c);
    }
    const qint64 n = qMax<qint64>(1, points.size());
    return qRgb(int(r / n), int(g / n), int(b / n));
}

// The contrast of a field's text against what lies behind it: the field is
// drawn with its text and without, the pixels where the text changes the
// brightness most (the cores of its antialiased strokes) are its strokes, and their mean colour is set against the
// mean colour of the photograph at the same pixels. 1 when no text shows.
double textContrast(QWidget *field, const std::function<QString()> &text,
                    const std::function<void(const QString &)> &setText)
{
    field->clearFocus(); // no caret in either drawing
    const QString kept = text();
    const QImage written = rgb(field->grab());
    setText(QString());
    const QImage blank = rgb(field->grab());
    setText(kept);

    double strongest = 0;
    for (int y = 0; y < written.height(); ++y) {
        for (int x = 0; x < written.width(); ++x)
            strongest = qMax(strongest, qAbs(luminance(written.pixel(x, y)) - luminance(blank.pixel(x, y))));
    }
    if (strongest < 0.02)
        return 1;
    QList<QPoint> strokes;
    for (int y = 0; y < written.height(); ++y) {
        for (int x = 0; x < written.width(); ++x) {
            const double change = qAbs(luminance(written.pixel(x, y)) - luminance(blank.pixel(x, y)));
            if (change >= strongest * 3 / 4)
                strokes.append(QPoint(x, y));
        }
    }
    return contrast(mean(written, strokes), mean(blank, strokes));
}

} // namespace

Q_DECLARE_METATYPE(Theme)

class TestFixedLook : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void windowLooksTheSame_data();
    void windowLooksTheSame();
    void portListLooksTheSame_data();
    void portListLooksTheSame();
    void textIsDarkOnThePhotograph_data();
    void textIsDarkOnThePhotograph();
    void dialogsStayTheDesktops();

private:
    void themeRows();

    DesktopTheme m_theme;
    QImage m_window;
    QImage m_portList;
};

void TestFixedLook::initTestCase()
{
    QWidget probe;
    if (probe.logicalDpiX() != 96 || probe.logicalDpiY() != 96)
        QSKIP("the design's pixel places hold at 96 dpi");
    qunsetenv("TARVIK_COM1");
    // A steady caret: both drawings that are compared show it alike.
    QApplication::setCursorFlashTime(0);
    m_theme.remember();
}

void TestFixedLook::cleanup()
{
    m_theme.restore();
}

void TestFixedLook::themeRows()
{
    QTest::addColumn<Theme>("theme");
    QTest::newRow("dark palette before the window is built") << Theme::DarkBeforeShow;
    QTest::newRow("dark palette after the window is drawn") << Theme::DarkAfterShow;
    QTest::newRow("another style before the window is built") << Theme::OtherStyleBeforeShow;
    QTest::newRow("another style after the window is drawn") << Theme::OtherStyleAfterShow;
}

void TestFixedLook::windowLooksTheSame_data()
{
    themeRows();
}

void TestFixedLook::windowLooksTheSame()
{
    QFETCH(Theme, theme);

    if (m_window.isNull()) {
        ThemedForm plain(Theme::Default);
        QVERIFY(plain.ready);
        m_window = rgb(plain.w->grab());
    }
    ThemedForm form(theme);
    QVERIFY(form.ready);
    QCOMPARE(describeChange(m_window, rgb(form.w->grab())), QString());
}

void TestFixedLook::portListLooksTheSame_data()
{
    themeRows();
}

// The drop-down list is a window of its own, drawn like a menu.
void TestFixedLook::portListLooksTheSame()
{
    QFETCH(Theme, theme);

    const auto dropDown = [](MainWindow &w) {
        auto *list = w.control<QComboBox>("portList");
        list->showPopup();
        QWidget *popup = list->view()->window();
        if (!QTest::qWaitForWindowExposed(popup))
            return QImage();
        const QImage shown = rgb(popup->grab());
        list->hidePopup();
        return shown;
    };
    if (m_portList.isNull()) {
        ThemedForm plain(Theme::Default);
        QVERIFY(plain.ready);
        m_portList = dropDown(*plain.w);
        QVERIFY(!m_portList.isNull());
    }
    ThemedForm form(theme);
    QVERIFY(form.ready);
    QCOMPARE(describeChange(m_portList, dropDown(*form.w)), QString());
}

void TestFixedLook::textIsDarkOnThePhotograph_data()
{
    QTest::addColumn<Theme>("theme");
    QTest::addColumn<QString>("field");
    QTest::addColumn<double>("least"); // the contrast ratio it must reach at least

    // Enabled text to the usual standard for reading (4.5); the greyed-out
    // block fields only need to stay legible.
    const struct {
        const char *name;
        double least;
    } fields[] = {{"folderEdit", 4.5}, {"logPane", 4.5}, {"startEdit", 3.0}, {"countEdit", 3.0}};
    const struct {
        const char *name;
        Theme theme;
    } themes[] = {{"default", Theme::Default},
                  {"dark before the window is built", Theme::DarkBeforeShow},
                  {"dark after the window is drawn", Theme::DarkAfterShow}};
    for (const auto &t : themes) {
        for (const auto &f : fields)
            QTest::addRow("%s, %s", f.name, t.name) << t.theme << QString::fromLatin1(f.name) << f.least;
    }
}

void TestFixedLook::textIsDarkOnThePhotograph()
{
    QFETCH(Theme, theme);
    QFETCH(QString, field);
    QFETCH(double, least);

    ThemedForm form(theme);
    QVERIFY(form.ready);
    double ratio = 0;
    if (auto *log = form.w->control<LogPane>("logPane"); field == log->objectName()) {
        ratio = textContrast(log, [log] { return log->text(); },
                             [log](const QString &text) { log->replaceText(text); });
    } else {
        auto *edit = form.w->control<QLineEdit>(field.toLatin1().constData());
        QVERIFY(edit);
        QVERIFY(!edit->text().isEmpty());
        ratio = textContrast(edit, [edit] { return edit->text(); },
                             [edit](const QString &text) { edit->setText(text); });
    }
    QVERIFY2(ratio >= least, qPrintable(QStringLiteral("contrast %1:1").arg(ratio, 0, 'f', 2)));
}

// Message boxes and the folder picker are the desktop's own dialogs and
// follow its theme, also when they are opened on the window.
void TestFixedLook::dialogsStayTheDesktops()
{
    ThemedForm form(Theme::DarkBeforeShow);
    QVERIFY(form.ready);
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Error"), QStringLiteral("x"), QMessageBox::Ok,
                    form.w.get());
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(box.style(), QApplication::style());
    QCOMPARE(box.palette().color(QPalette::Window), darkPalette().color(QPalette::Window));
    QCOMPARE(form.w->style(), FixedLook::style());
}

QTEST_MAIN(TestFixedLook)
#include "tst_fixedlook.moc"
