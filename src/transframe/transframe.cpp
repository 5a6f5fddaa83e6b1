// SPDX-License-Identifier: GPL-3.0-or-later
#include "transframe/transframe.h"

#include "transframe/colors.h"
#include "transframe/frameline.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <cfloat>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace tarvik {

namespace {

constexpr quint32 ButtonFace = 0x8000000F;
constexpr quint32 ButtonText = 0x80000012;
constexpr quint32 ButtonShadow = 0x80000010;
constexpr quint32 Highlight3D = 0x80000014;
constexpr int CustomPointer = 99;

[[noreturn]] void overflow()
{
    throw std::overflow_error("Overflow");
}

double toNumber(const QVariant &value)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok)
        throw std::invalid_argument("Type mismatch");
    return number;
}

// A whole number in [min, max], halves rounded to even.
qint64 toWhole(double number, qint64 min, qint64 max)
{
    const double whole = std::nearbyint(number);
    if (!(whole >= double(min) && whole <= double(max)))
        overflow();
    return qint64(whole);
}

qint16 toInt16(const QVariant &value)
{
    return qint16(toWhole(toNumber(value), std::numeric_limits<qint16>::min(),
                          std::numeric_limits<qint16>::max()));
}

qint32 toInt32(const QVariant &value)
{
    return qint32(toWhole(toNumber(value), std::numeric_limits<qint32>::min(),
                          std::numeric_limits<qint32>::max()));
}

// Colours come stored as signed 32-bit numbers; unsigned ones are taken too.
quint32 toColor(const QVariant &value)
{
    return quint32(toWhole(toNumber(value), std::numeric_limits<qint32>::min(),
                           std::numeric_limits<quint32>::max()));
}

float toSingle(const QVariant &value)
{
    const double number = toNumber(value);
    if (std::isfinite(number) && std::fabs(number) > FLT_MAX)
        overflow();
    return float(number);
}

FontRef toFont(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<FontRef>())
        return value.value<FontRef>();
    if (value.metaType() == QMetaType::fromType<QFont>())
        return makeFontObject(value.value<QFont>());
    if (!value.isValid())
        return FontRef();
    throw std::invalid_argument("Type mismatch");
}

PictureRef toPicture(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<PictureRef>())
        return value.value<PictureRef>();
    if (value.metaType() == QMetaType::fromType<QPixmap>())
        return std::make_shared<const QPixmap>(value.value<QPixmap>());
    if (!value.isValid())
        return PictureRef();
    throw std::invalid_argument("Type mismatch");
}

// A 16-bit product, as the layout computes it.
qint16 multiply16(qint16 a, qint16 b)
{
    const int product = int(a) * int(b);
    if (product < std::numeric_limits<qint16>::min() || product > std::numeric_limits<qint16>::max())
        overflow();
    return qint16(product);
}

qint16 shiftState(Qt::KeyboardModifiers modifiers)
{
    qint16 shift = 0;
    if (modifiers & Qt::ShiftModifier)
        shift |= 1;
    if (modifiers & Qt::ControlModifier)
        shift |= 2;
    if (modifiers & Qt::AltModifier)
        shift |= 4;
    return shift;
}

qint16 buttonMask(Qt::MouseButtons buttons)
{
    qint16 mask = 0;
    if (buttons & Qt::LeftButton)
        mask |= 1;
    if (buttons & Qt::RightButton)
        mask |= 2;
    if (buttons & Qt::MiddleButton)
        mask |= 4;
    return mask;
}

// The key codes that handlers know: letters and digits as their upper-case
// characters, the rest as the keyboard's virtual key numbers.
qint16 keyCode(const QKeyEvent *event)
{
    const int key = event->key();
    const bool keypad = event->modifiers() & Qt::KeypadModifier;
    if (keypad && key >= Qt::Key_0 && key <= Qt::Key_9)
        return qint16(0x60 + key - Qt::Key_0);
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return qint16(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return qint16(0x70 + key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 9;
    case Qt::Key_Clear: return 12;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Shift: return 16;
    case Qt::Key_Control: return 17;
    case Qt::Key_Alt: return 18;
    case Qt::Key_Pause: return 19;
    case Qt::Key_CapsLock: return 20;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Space: return 32;
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_End: return 35;
    case Qt::Key_Home: return 36;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    case Qt::Key_Print: return 44;
    case Qt::Key_Insert: return 45;
    case Qt::Key_Delete: return 46;
    case Qt::Key_Help: return 47;
    case Qt::Key_Menu: return 93;
    case Qt::Key_Asterisk: return keypad ? 106 : 0;
    case Qt::Key_Plus: return keypad ? 107 : 0;
    case Qt::Key_Minus: return keypad ? 109 : 0;
    case Qt::Key_Period: return keypad ? 110 : 0;
    case Qt::Key_Slash: return keypad ? 111 : 0;
    case Qt::Key_NumLock: return 144;
    case Qt::Key_ScrollLock: return 145;
    default: return 0;
    }
}

bool paintingNow(const QWidget *widget)
{
    for (; widget; widget = widget->parentWidget()) {
        if (widget->testAttribute(Qt::WA_WState_InPaintEvent))
            return true;
    }
    return false;
}

// Paints what `widget` and the widgets in it show within `clip` (in the
// coordinates of `root`) with `origin` at the painter's (0, 0), leaving out
// `leftOut` and all it holds.
void renderShown(QPainter *painter, QWidget *root, QWidget *widget, const QWidget *leftOut,
                 const QRegion &clip, const QPoint &origin)
{
    if (widget == leftOut)
        return;
    const QPoint at = widget->mapTo(root, QPoint(0, 0));
    const QRegion shown = clip & QRect(at, widget->size());
    if (shown.isEmpty())
        return;
    widget->render(painter, shown.boundingRect().topLeft() - origin, shown.translated(-at),
                   widget == root ? QWidget::DrawWindowBackground : QWidget::RenderFlags());
    for (QObject *object : widget->children()) {
        auto *child = qobject_cast<QWidget *>(object);
        if (child && !child->isWindow() && !child->isHidden())
            renderShown(painter, root, child, leftOut, shown, origin);
    }
}

} // namespace

TransFrame::TransFrame(QWidget *parent)
    : QWidget(parent), m_font(makeFontObject(QGuiApplication::font()))
{
    // Constituents in the order of the design record; the caption label
    // stacks above the lines, and the controls placed later above both.
    m_captionLabel = new QLabel(QStringLiteral(" Label1 "), this);
    m_captionLabel->setObjectName(QStringLiteral("lblCaption"));
    m_captionLabel->setAutoFillBackground(true);
    m_captionLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const auto makeLine = [this](const char *name, int index) {
        auto *line = new FrameLine(index, this);
        line->setObjectName(QLatin1String(name));
        return line;
    };
    m_bottomLines[1] = makeLine("linBottom", 1);
    m_bottomLines[0] = makeLine("linBottom", 0);
    m_rightLines[0] = makeLine("linRight", 0);
    m_rightLines[1] = makeLine("linRight", 1);
    m_leftLines[1] = makeLine("linLeft", 1);
    m_leftLines[0] = makeLine("linLeft", 0);
    m_topLines[1] = makeLine("linTop", 1);
    m_topLines[0] = makeLine("linTop", 0);
    m_captionLabel->raise();

    // Creation: the border colours, in this order.
    m_topLines[0]->setBorderColor(ButtonShadow);
    m_topLines[1]->setBorderColor(Highlight3D);
    m_leftLines[0]->setBorderColor(ButtonShadow);
    m_leftLines[1]->setBorderColor(Highlight3D);
    m_rightLines[0]->setBorderColor(Highlight3D);
    m_rightLines[1]->setBorderColor(ButtonShadow);
    m_bottomLines[0]->setBorderColor(Highlight3D);
    m_bottomLines[1]->setBorderColor(ButtonShadow);

    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    applyColors();
    applyFont();
}

quint32 TransFrame::backColor() const
{
    return m_backColor;
}

void TransFrame::setBackColor(quint32 color)
{
    m_backColor = color;
    applyColors();
    emit PropertyChanged(QStringLiteral("BackColor"));
}

quint32 TransFrame::foreColor() const
{
    return m_foreColor;
}

void TransFrame::setForeColor(quint32 color)
{
    m_foreColor = color;
    applyColors();
    emit PropertyChanged(QStringLiteral("ForeColor"));
}

bool TransFrame::enabled() const
{
    return !testAttribute(Qt::WA_ForceDisabled);
}

void TransFrame::setEnabled(bool enabled)
{
    QWidget::setEnabled(enabled);
    emit PropertyChanged(QStringLiteral("Enabled"));
}

FontRef TransFrame::fontObject() const
{
    return m_font;
}

void TransFrame::setFontObject(const FontRef &font)
{
    m_font = font ? font : makeFontObject(QGuiApplication::font());
    applyFont();
    emit PropertyChanged(QStringLiteral("Font"));
}

qint32 TransFrame::borderStyle() const
{
    return m_borderStyle;
}

void TransFrame::setBorderStyle(qint32 style)
{
    m_borderStyle = style;
    for (const auto &side : {m_topLines, m_leftLines, m_rightLines, m_bottomLines}) {
        for (FrameLine *line : side)
            line->setVisible(style == 1);
    }
    onCaptionChanged();
    emit PropertyChanged(QStringLiteral("BorderStyle"));
}

QString TransFrame::caption() const
{
    return m_caption;
}

void TransFrame::setCaption(const QString &caption)
{
    m_caption = caption;
    m_captionLabel->setText(QLatin1Char(' ') + caption + QLatin1Char(' '));
    m_captionLabel->adjustSize();
    onCaptionChanged();
    emit PropertyChanged(QStringLiteral("Caption"));
}

qint32 TransFrame::appearance() const
{
    return m_appearance;
}

void TransFrame::setAppearance(qint32 appearance)
{
    m_appearance = qint16(toWhole(appearance, std::numeric_limits<qint16>::min(),
                                  std::numeric_limits<qint16>::max()));
    emit PropertyChanged(QStringLiteral("Appearance"));
}

QWidgetList TransFrame::controls() const
{
    return {m_captionLabel, m_bottomLines[1], m_bottomLines[0], m_rightLines[0], m_rightLines[1],
            m_leftLines[1], m_leftLines[0], m_topLines[1], m_topLines[0]};
}

bool TransFrame::fontUnderline() const
{
    return m_font->underline;
}

void TransFrame::setFontUnderline(bool underline)
{
    m_font->underline = underline;
    applyFont();
    emit PropertyChanged(QStringLiteral("FontUnderline"));
}

bool TransFrame::fontTransparent() const
{
    return m_fontTransparent;
}

void TransFrame::setFontTransparent(bool transparent)
{
    m_fontTransparent = transparent;
    emit PropertyChanged(QStringLiteral("FontTransparent"));
}

bool TransFrame::fontStrikethru() const
{
    return m_font->strikethrough;
}

void TransFrame::setFontStrikethru(bool strikethru)
{
    m_font->strikethrough = strikethru;
    applyFont();
    emit PropertyChanged(QStringLiteral("FontStrikethru"));
}

float TransFrame::fontSize() const
{
    return m_font->size;
}

void TransFrame::setFontSize(float size)
{
    m_font->size = size;
    applyFont();
    emit PropertyChanged(QStringLiteral("FontSize"));
}

QString TransFrame::fontName() const
{
    return m_font->name;
}

void TransFrame::setFontName(const QString &name)
{
    m_font->name = name;
    applyFont();
    emit PropertyChanged(QStringLiteral("FontName"));
}

bool TransFrame::fontItalic() const
{
    return m_font->italic;
}

void TransFrame::setFontItalic(bool italic)
{
    m_font->italic = italic;
    applyFont();
    emit PropertyChanged(QStringLiteral("FontItalic"));
}

bool TransFrame::fontBold() const
{
    return m_font->bold;
}

void TransFrame::setFontBold(bool bold)
{
    m_font->bold = bold;
    applyFont();
    emit PropertyChanged(QStringLiteral("FontBold"));
}

QWidget *TransFrame::hWnd()
{
    return this;
}

PictureRef TransFrame::mouseIcon() const
{
    return m_mouseIcon;
}

void TransFrame::setMouseIcon(const PictureRef &icon)
{
    m_mouseIcon = icon;
    applyCursor();
    emit PropertyChanged(QStringLiteral("MouseIcon"));
}

qint16 TransFrame::mousePointer() const
{
    return m_mousePointer;
}

void TransFrame::setMousePointer(qint16 pointer)
{
    m_mousePointer = pointer;
    applyCursor();
    emit PropertyChanged(QStringLiteral("MousePointer"));
}

qint32 TransFrame::backStyle() const
{
    return m_backStyle;
}

void TransFrame::setBackStyle(qint32 style)
{
    m_backStyle = style;
    emit PropertyChanged(QStringLiteral("BackStyle"));
}

void TransFrame::InitProperties(const AmbientProperties &ambient)
{
    m_font = ambient.font();
    applyFont();
    setCaption(ambient.displayName());
    m_backStyle = 0;
    setBorderStyle(1);
}

void TransFrame::ReadProperties(const PropertyBag &bag, const AmbientProperties &ambient)
{
    m_backColor = toColor(bag.ReadProperty(QStringLiteral("BackColor"), qint32(ButtonFace)));
    applyColors();
    m_foreColor = toColor(bag.ReadProperty(QStringLiteral("ForeColor"), qint32(ButtonText)));
    applyColors();
    QWidget::setEnabled(bag.ReadProperty(QStringLiteral("Enabled"), true).toBool());
    const FontRef font = toFont(bag.ReadProperty(QStringLiteral("Font"), QVariant::fromValue(ambient.font())));
    m_font = font ? font : makeFontObject(QGuiApplication::font());
    applyFont();

    setBorderStyle(toInt32(bag.ReadProperty(QStringLiteral("BorderStyle"), qint32(1))));
    setCaption(bag.ReadProperty(QStringLiteral("Caption"), ambient.displayName()).toString());
    m_appearance = toInt16(bag.ReadProperty(QStringLiteral("Appearance"), qint16(1)));

    m_font->underline = bag.ReadProperty(QStringLiteral("FontUnderline"), false).toBool();
    m_fontTransparent = bag.ReadProperty(QStringLiteral("FontTransparent"), true).toBool();
    m_font->strikethrough = bag.ReadProperty(QStringLiteral("FontStrikethru"), false).toBool();
    m_font->size = toSingle(bag.ReadProperty(QStringLiteral("FontSize"), false));
    m_font->name = bag.ReadProperty(QStringLiteral("FontName"), QString()).toString();
    m_font->italic = bag.ReadProperty(QStringLiteral("FontItalic"), false).toBool();
    m_font->bold = bag.ReadProperty(QStringLiteral("FontBold"), false).toBool();
    applyFont();

    setMouseIcon(toPicture(bag.ReadProperty(QStringLiteral("MouseIcon"),
                                            QVariant::fromValue(PictureRef()))));
    m_mousePointer = toInt16(bag.ReadProperty(QStringLiteral("MousePointer"), qint16(0)));
    applyCursor();
    if (ambient.userMode())
        hookParent();
    m_backStyle = toInt32(bag.ReadProperty(QStringLiteral("BackStyle"), qint32(0)));
}

void TransFrame::WriteProperties(PropertyBag &bag, const AmbientProperties &ambient) const
{
    bag.WriteProperty(QStringLiteral("BackColor"), qint32(m_backColor), qint32(ButtonFace));
    bag.WriteProperty(QStringLiteral("ForeColor"), qint32(m_foreColor), qint32(ButtonText));
    bag.WriteProperty(QStringLiteral("Enabled"), enabled(), true);
    bag.WriteProperty(QStringLiteral("Font"), QVariant::fromValue(m_font),
                      QVariant::fromValue(ambient.font()));
    bag.WriteProperty(QStringLiteral("BorderStyle"), m_borderStyle, qint32(1));
    bag.WriteProperty(QStringLiteral("Caption"), m_caption, ambient.displayName());
    bag.WriteProperty(QStringLiteral("Appearance"), m_appearance, qint16(1));
    bag.WriteProperty(QStringLiteral("FontUnderline"), fontUnderline(), false);
    bag.WriteProperty(QStringLiteral("FontTransparent"), m_fontTransparent, true);
    bag.WriteProperty(QStringLiteral("FontStrikethru"), fontStrikethru(), false);
    bag.WriteProperty(QStringLiteral("FontSize"), fontSize(), false);
    bag.WriteProperty(QStringLiteral("FontName"), fontName(), QString());
    bag.WriteProperty(QStringLiteral("FontItalic"), fontItalic(), false);
    bag.WriteProperty(QStringLiteral("FontBold"), fontBold(), false);
    bag.WriteProperty(QStringLiteral("MouseIcon"), QVariant::fromValue(m_mouseIcon),
                      QVariant::fromValue(PictureRef()));
    bag.WriteProperty(QStringLiteral("MousePointer"), m_mousePointer, qint16(0));
    bag.WriteProperty(QStringLiteral("BackStyle"), m_backStyle, qint32(0));
}

QLabel *TransFrame::captionLabel() const
{
    return m_captionLabel;
}

FrameLine *TransFrame::topLine(int index) const
{
    return m_topLines.at(index);
}

FrameLine *TransFrame::leftLine(int index) const
{
    return m_leftLines.at(index);
}

FrameLine *TransFrame::rightLine(int index) const
{
    return m_rightLines.at(index);
}

FrameLine *TransFrame::bottomLine(int index) const
{
    return m_bottomLines.at(index);
}

qreal TransFrame::twipsPerPixelX() const
{
    return m_twipsX > 0 ? m_twipsX : 1440.0 / logicalDpiX();
}

qreal TransFrame::twipsPerPixelY() const
{
    return m_twipsY > 0 ? m_twipsY : 1440.0 / logicalDpiY();
}

void TransFrame::setTwipsPerPixel(qreal x, qreal y)
{
    const qreal oldX = m_twipsX;
    const qreal oldY = m_twipsY;
    m_twipsX = x;
    m_twipsY = y;
    try {
        layoutConstituents();
    } catch (...) {
        m_twipsX = oldX;
        m_twipsY = oldY;
        throw;
    }
}

bool TransFrame::backdropApplied() const
{
    return m_backdropApplied;
}

PictureRef TransFrame::picture() const
{
    return m_picture;
}

bool TransFrame::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_myParent && event->type() == QEvent::Paint)
        parentPaint();
    return QWidget::eventFilter(watched, event);
}

void TransFrame::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ApplicationPaletteChange)
        applyColors();
    QWidget::changeEvent(event);
}

void TransFrame::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().color(QPalette::Window));
    if (m_picture)
        painter.drawPixmap(0, 0, *m_picture);
}

void TransFrame::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    try {
        layoutConstituents();
    } catch (const std::exception &error) {
        qWarning("TransFrame %s: border not laid out: %s", qPrintable(objectName()), error.what());
    }
}

void TransFrame::mousePressEvent(QMouseEvent *event)
{
    if (!inputOnSurface(event->position())) {
        QWidget::mousePressEvent(event);
        return;
    }
    MouseArgs args = mouseArgs(event, buttonMask(event->button()));
    m_clickArmed = event->button() == Qt::LeftButton;
    emit MouseDown(args.button, args.shift, args.x, args.y);
}

void TransFrame::mouseMoveEvent(QMouseEvent *event)
{
    if (!inputOnSurface(event->position())) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    MouseArgs args = mouseArgs(event, buttonMask(event->buttons()));
    emit MouseMove(args.button, args.shift, args.x, args.y);
}

void TransFrame::mouseReleaseEvent(QMouseEvent *event)
{
    if (!inputOnSurface(event->position())) {
        m_clickArmed = false;
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const bool click = m_clickArmed && event->button() == Qt::LeftButton;
    m_clickArmed = false;
    MouseArgs args = mouseArgs(event, buttonMask(event->button()));
    emit MouseUp(args.button, args.shift, args.x, args.y);
    if (click)
        emit Click();
}

void TransFrame::mouseDoubleClickEvent(QMouseEvent *event)
{
    m_clickArmed = false;
    if (!inputOnSurface(event->position()) || event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    emit DblClick();
}

void TransFrame::keyPressEvent(QKeyEvent *event)
{
    if (inputOfChild()) {
        QWidget::keyPressEvent(event);
        return;
    }
    qint16 code = keyCode(event);
    qint16 shift = shiftState(event->modifiers());
    emit KeyDown(code, shift);
    bool swallowed = code == 0 && keyCode(event) != 0;
    const QString text = event->text();
    if (text.size() == 1 && text.at(0).unicode() <= 0x7FFF) {
        qint16 ascii = qint16(text.at(0).unicode());
        emit KeyPress(ascii);
        swallowed = swallowed || ascii == 0;
    }
    event->setAccepted(swallowed);
}

void TransFrame::keyReleaseEvent(QKeyEvent *event)
{
    if (inputOfChild()) {
        QWidget::keyReleaseEvent(event);
        return;
    }
    qint16 code = keyCode(event);
    qint16 shift = shiftState(event->modifiers());
    emit KeyUp(code, shift);
    event->setAccepted(code == 0 && keyCode(event) != 0);
}

void TransFrame::layoutConstituents()
{
    const qreal twipsX = twipsPerPixelX();
    const qreal twipsY = twipsPerPixelY();
    const float w = float(width() * twipsX);
    const float h2 = float(height() * twipsY);
    const qint16 p = qint16(toWhole(twipsX, std::numeric_limits<qint16>::min(),
                                    std::numeric_limits<qint16>::max()));
    const qint16 captionLeft = multiply16(9, p);

    m_captionLabel->move(qRound(captionLeft / twipsX), 0);
    const qint32 h = qint32(std::nearbyint(m_captionLabel->height() * twipsY)) / 2;

    const auto place = [twipsX, twipsY](FrameLine *line, float x1, float y1, float x2, float y2) {
        line->setEnds(x1, y1, x2, y2, twipsX, twipsY);
    };
    place(m_topLines[0], 0, h, w, h);
    place(m_topLines[1], 0, h + p, w, h + p);
    place(m_leftLines[0], 0, h, 0, h2);
    place(m_leftLines[1], p, h + p, p, h2);
    place(m_bottomLines[0], 0, h2 - p, w, h2 - p);
    place(m_bottomLines[1], 0, h2 - 2 * p, w - p, h2 - 2 * p);
    place(m_rightLines[0], w - p, h, w - p, h2 - p);
    place(m_rightLines[1], w - 2 * p, h, w - 2 * p, h2);
}

void TransFrame::onCaptionChanged()
{
    m_captionLabel->setVisible(m_borderStyle == 1 && !m_caption.isEmpty());
}

void TransFrame::hookParent()
{
    if (m_myParent)
        m_myParent->removeEventFilter(this);
    m_myParent = parentWidget();
    if (m_myParent)
        m_myParent->installEventFilter(this);
}

void TransFrame::parentPaint()
{
    if (m_inParentPaint)
        return;
    if (m_backStyle == 0 && !m_backdropApplied && paintingNow(m_myParent)) {
        // A widget cannot be rendered while it paints: take the backdrop
        // as soon as this paint is over.
        if (!m_parentPaintQueued) {
            m_parentPaintQueued = true;
            QTimer::singleShot(0, this, [this] {
                m_parentPaintQueued = false;
                if (m_myParent)
                    parentPaint();
            });
        }
        return;
    }
    m_inParentPaint = true;
    applyBackdrop(m_backStyle == 0);
    m_inParentPaint = false;
}

void TransFrame::applyBackdrop(bool on)
{
    if (!on) {
        setPicture(PictureRef());
        m_backdropApplied = false;
        return;
    }
    if (m_backdropApplied)
        return;
    // The capture leaves this frame out of the rendering rather than hiding
    // it, so focus and visibility of the controls in it stay as they are.
    setPicture(captureBackdrop());
    m_backdropApplied = true;
}

PictureRef TransFrame::captureBackdrop()
{
    return captureWindowArea(hWnd(), false, 0, 0, width(), height());
}

// What the window shows of `window`'s area, rendered offscreen with `window`
// left out. Widgets have no frame of their own here, so clientOnly changes nothing.
PictureRef TransFrame::captureWindowArea(QWidget *window, bool clientOnly, qint32 left, qint32 top,
                                         qint32 width, qint32 height)
{
    Q_UNUSED(clientOnly)
    QWidget *root = window->window();
    const QRect area(window->mapTo(root, QPoint(left, top)), QSize(width, height));
    QPixmap bitmap;
    if (!area.isEmpty() && root != window) {
        const qreal ratio = root->devicePixelRatioF();
        bitmap = QPixmap(area.size() * ratio);
        bitmap.setDevicePixelRatio(ratio);
        bitmap.fill(Qt::transparent);
        QPainter painter(&bitmap);
        renderShown(&painter, root, root, window, QRegion(area), area.topLeft());
    }
    return bitmapToPicture(bitmap);
}

PictureRef TransFrame::bitmapToPicture(const QPixmap &bitmap)
{
    return std::make_shared<const QPixmap>(bitmap);
}

void TransFrame::applyColors()
{
    const auto setRole = [](QWidget *widget, QPalette::ColorRole role, quint32 value) {
        const QColor color = colorFromOle(value);
        if (!color.isValid())
            return;
        QPalette palette = widget->palette();
        palette.setColor(role, color);
        widget->setPalette(palette);
    };
    setRole(this, QPalette::Window, m_backColor);
    setRole(this, QPalette::WindowText, m_foreColor);
    setRole(m_captionLabel, QPalette::Window, ButtonFace);
    setRole(m_captionLabel, QPalette::WindowText, ButtonText);
}

void TransFrame::applyFont()
{
    QWidget::setFont(m_font->toQFont(QGuiApplication::font()));
    m_captionLabel->adjustSize();
}

void TransFrame::applyCursor()
{
    static const Qt::CursorShape shapes[] = {
        Qt::ArrowCursor, Qt::ArrowCursor, Qt::CrossCursor, Qt::IBeamCursor, Qt::ArrowCursor,
        Qt::SizeAllCursor, Qt::SizeBDiagCursor, Qt::SizeVerCursor, Qt::SizeFDiagCursor,
        Qt::SizeHorCursor, Qt::UpArrowCursor, Qt::WaitCursor, Qt::ForbiddenCursor,
        Qt::BusyCursor, Qt::WhatsThisCursor, Qt::SizeAllCursor,
    };
    if (m_mousePointer == CustomPointer && m_mouseIcon && !m_mouseIcon->isNull())
        setCursor(QCursor(*m_mouseIcon));
    else if (m_mousePointer > 0 && m_mousePointer < qint16(std::size(shapes)))
        setCursor(shapes[m_mousePointer]);
    else
        unsetCursor();
}

void TransFrame::setPicture(const PictureRef &picture)
{
    m_picture = picture;
    update();
}

bool TransFrame::inputOnSurface(const QPointF &pos) const
{
    // The lines let input through; the caption label and the controls
    // placed in the frame own theirs.
    return childAt(pos.toPoint()) == nullptr;
}

bool TransFrame::inputOfChild() const
{
    const QWidget *focus = QApplication::focusWidget();
    return focus && focus != this && isAncestorOf(focus);
}

TransFrame::MouseArgs TransFrame::mouseArgs(const QMouseEvent *event, qint16 button) const
{
    return {button, shiftState(event->modifiers()), float(event->position().x() * twipsPerPixelX()),
            float(event->position().y() * twipsPerPixelY())};
}

} // namespace tarvik
