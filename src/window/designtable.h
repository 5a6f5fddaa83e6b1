// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QFont>
#include <QLine>
#include <QRect>
#include <QStringList>
#include <QString>
#include <QVariant>

#include <vector>

namespace tarvik {

// The window's stored design: every control with its kind, container,
// caption or text, place in twips, tab index and notable properties. The
// window is built from this table, in its order. The rest of the window takes
// the design in its own units, through the functions at the end: places in
// pixels and colours as QColor.
namespace Design {

enum class Kind { Frame, Button, TextField, Label, CheckBox, ComboBox, Shape, Line, ProgressBar };

enum Flag : unsigned {
    None = 0,
    Disabled = 1u << 0,
    Hidden = 1u << 1,
    Bold = 1u << 2,
    BlackText = 1u << 3,
    MultiLine = 1u << 4,   // with a vertical scroll bar
    SeeThrough = 1u << 5,  // the text field shows the window's picture under it
    Link = 1u << 6,        // blue, underlined, pointing-hand cursor
    Circle = 1u << 7,      // shape: a filled circle, else a rectangle outline
};

struct Control {
    const char *name;
    Kind kind;
    const char *container;  // WindowName or a frame's name
    QString caption;
    int left, top, width, height; // twips; lines: x1, y1, x2, y2
    int tabIndex;            // -1: no tab position
    unsigned flags;
    quint32 color;           // shape fill / border, line colour; 0x00BBGGRR or system colour
    QString toolTip;
};

// One stored property of a frame instance, under its stored key.
struct StoredProperty {
    QString key;
    QVariant value;
};

// A frame instance's stored properties, in their stored order and spelling:
// the host's size ("_extentx", "_extenty", in hundredths of a millimetre),
// then the frame's own. The window loads each instance from exactly these.
struct FrameStore {
    const char *name;
    std::vector<StoredProperty> stored;
};

// Window properties. Every control's object name is its role, the window's too.
constexpr const char *WindowName = "mainWindow";
constexpr int ClientWidth = 7380;  // twips
constexpr int ClientHeight = 6270;
constexpr int BackRed = 224, BackGreen = 224, BackBlue = 224;
inline const QString Caption = QStringLiteral("Tarvik for KAON STBs");
inline const QString MakerUrl = QStringLiteral("https://tarvik.example.org/");
inline const QString MakerCaption = QStringLiteral("tarvik.example.org");
inline const QString AuthorLine = QStringLiteral("\u00A9 2026 Tarvik team");

// Artwork, from the window's resources.
inline const QString PicturePath = QStringLiteral(":/background.jpg");
inline const QString LinkCursorPath = QStringLiteral(":/hand.png");
constexpr int LinkCursorHotX = 12, LinkCursorHotY = 1; // the fingertip
QStringList iconPaths();

// The font of every control unless the table says otherwise.
inline const QString FontName = QStringLiteral("MS Sans Serif");
constexpr qreal FontSize = 8.25;
QFont font();

const std::vector<Control> &controls();
const std::vector<FrameStore> &frames();

// What a screen reader says for a control: its accessible name (empty: the
// control's own text, which changes) and description, and for a label the
// field that it names (its buddy).
struct Spoken {
    const char *name;
    QString accessibleName;
    QString description;
    const char *buddy; // nullptr: none
};
const std::vector<Spoken> &spoken();
// The progress bar's accessible name until a run ends; its value carries the count.
QString progressName();

// Twips to pixels at a logical DPI.
int toPixels(int twips, double dpi);
// A stored extent, in hundredths of a millimetre, in twips.
int extentToTwips(int hundredthsOfMm);

// The design in pixels at a logical DPI.
QSize windowSize(double dpi);
// A control's place in its container; not for lines.
QRect place(const Control &control, double dpi);
// A line's two ends in its container.
QLine lineEnds(const Control &line, double dpi);
// A frame's stored extent.
QSize frameExtent(const FrameStore &frame, double dpi);
// A control's place in its container as the table stores it: what a
// see-through field's tile is cut by (SeeThrough::makeSeeThrough).
QRectF storedPlace(const Control &control);
// A stored place as whole pixels at the logical DPIs, halves to even: where
// a see-through field's tile is cut from the picture.
QRect tilePixels(const QRectF &twips, double dpiX, double dpiY);

// The design's colours as the window draws them.
QColor color(quint32 designColor);
QColor backColor();
QColor linkColor();
// The text of disabled fields and labels: a grey that stays readable on the picture.
QColor disabledTextColor();
// Under a see-through field where the picture does not reach.
QColor buttonFace();
// The port lamp's fill, as a design colour (the lamp keeps the design's
// number): red while the port is closed, green while it is open.
quint32 lampColor(bool portOpen);

} // namespace Design
} // namespace tarvik
