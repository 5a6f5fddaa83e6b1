#pragma once

#include <QString>

#include <vector>

namespace tarvik {

// The window's stored design: every control with its kind, container,
// caption or text, place in twips, tab index and notable properties. The
// window is built from this table, in its order.
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
    const char *container;  // "Form1" or a frame's name
    QString caption;
    int left, top, width, height; // twips; lines: x1, y1, x2, y2
    int tabIndex;            // -1: no tab position
    unsigned flags;
    quint32 color;           // shape fill / border, line colour; 0x00BBGGRR or system colour
    QString toolTip;
};

// The frames' stored properties, loaded through the frame's property store.
struct FrameStore {
    const char *name;
    QString caption;
    int extentX;  // hundredths of a millimetre
    int extentY;
};

// Window properties.
constexpr int ClientWidth = 7380;  // twips
constexpr int ClientHeight = 6270;
constexpr int BackRed = 224, BackGreen = 224, BackBlue = 224;
inline const QString Caption = QStringLiteral("Tarvik for KAON STBs");
inline const QString MakerUrl = QStringLiteral("https://tarvik.example.org/");
inline const QString MakerCaption = QStringLiteral("tarvik.example.org");
inline const QString AuthorLine = QStringLiteral("\u00A9 2026 Tarvik team");

const std::vector<Control> &controls();
const std::vector<FrameStore> &frames();

// Twips to pixels at a logical DPI.
int toPixels(int twips, double dpi);

} // namespace Design
} // namespace tarvik
