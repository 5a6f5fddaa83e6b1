// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/designtable.h"

#include "transframe/colors.h"

#include <cmath>

namespace tarvik::Design {

namespace {
constexpr quint32 Red = 0x000000FF;
constexpr quint32 Green = 0x0000FF00;
constexpr quint32 ButtonFace = 0x8000000F;
constexpr quint32 ActiveBorder = 0x8000000A;
constexpr quint32 DarkShadow3D = 0x80000015;
} // namespace

const std::vector<Control> &controls()
{
    static const std::vector<Control> table = {
        {"openCloseFrame", Kind::Frame, WindowName, QStringLiteral("COM Control"), 5280, 0, 2055, 855, -1, None, 0, {}},
        {"openButton", Kind::Button, "openCloseFrame", QStringLiteral("Open"), 120, 320, 615, 375, 19, None, 0, {}},
        {"closeButton", Kind::Button, "openCloseFrame", QStringLiteral("Close"), 840, 320, 615, 375, 18, Disabled, 0, {}},
        {"lamp", Kind::Shape, "openCloseFrame", {}, 1680, 360, 255, 255, -1, Circle, Red, {}},
        {"dataRequestFrame", Kind::Frame, WindowName, QStringLiteral("Data Request"), 1800, 0, 3375, 855, -1, None, 0, {}},
        {"startEdit", Kind::TextField, "dataRequestFrame", QStringLiteral("0"), 1800, 180, 495, 285, 15, Disabled | BlackText | SeeThrough, 0, {}},
        {"countEdit", Kind::TextField, "dataRequestFrame", QStringLiteral("1024"), 1800, 480, 495, 285, 14, Disabled | BlackText | SeeThrough, 0, {}},
        {"editButton", Kind::Button, "dataRequestFrame", QStringLiteral("Edit"), 2520, 320, 615, 375, 13, Hidden, 0, {}},
        {"startLabel", Kind::Label, "dataRequestFrame", QStringLiteral("Start with Block"), 240, 240, 1215, 255, 17, BlackText, 0, {}},
        {"countLabel", Kind::Label, "dataRequestFrame", QStringLiteral("Number of Blocks"), 240, 525, 1335, 255, 16, BlackText, 0, {}},
        {"portFrame", Kind::Frame, WindowName, QStringLiteral("Serial Port"), 0, 0, 1695, 855, -1, None, 0, {}},
        {"portList", Kind::ComboBox, "portFrame", {}, 240, 320, 1095, 315, 12, None, 0, QStringLiteral("Select the COM-Port for the receiver")},
        {"headerFrame", Kind::Frame, WindowName, {}, 0, 840, 7335, 375, -1, None, 0, {}},
        {"headerCheck", Kind::CheckBox, "headerFrame", {}, 120, 140, 195, 195, 9, None, 0, {}},
        {"modelDivider", Kind::Line, "headerFrame", {}, 5520, 120, 5520, 360, -1, None, ActiveBorder, {}},
        {"modelLabel", Kind::Label, "headerFrame", {}, 5640, 135, 1575, 255, 11, Bold, 0, {}},
        {"headerLabel", Kind::Label, "headerFrame", QStringLiteral("Add the header for the KUP - Loader  (use it at your own risk !!!)"), 480, 140, 4695, 255, 10, BlackText, 0, {}},
        {"aboutFrame", Kind::Frame, WindowName, QStringLiteral("About"), 0, 5700, 7335, 560, -1, None, 0, {}},
        {"versionDivider", Kind::Line, "aboutFrame", {}, 6000, 120, 6000, 600, -1, None, ActiveBorder, {}},
        {"versionLabel", Kind::Label, "aboutFrame", QStringLiteral("Tarvik v2.1"), 6240, 240, 975, 255, 8, Bold | BlackText, 0, {}},
        {"aboutLink", Kind::Label, "aboutFrame", MakerCaption, 4080, 240, 1815, 255, 7, Link, 0, {}},
        {"authorDivider", Kind::Line, "aboutFrame", {}, 1920, 120, 1920, 600, -1, None, ActiveBorder, {}},
        {"contactLabel", Kind::Label, "aboutFrame", QStringLiteral("For contact and  more info:"), 2040, 240, 1935, 255, 6, BlackText, 0, {}},
        {"authorLabel", Kind::Label, "aboutFrame", AuthorLine, 120, 240, 1695, 255, 5, BlackText, 0, {}},
        {"folderButton", Kind::Button, WindowName, QStringLiteral("Directory"), 6240, 5160, 855, 375, 2, None, 0, {}},
        {"folderEdit", Kind::TextField, WindowName, {}, 960, 5160, 5175, 330, 1, SeeThrough, 0, {}},
        {"logPane", Kind::TextField, WindowName, {}, 120, 1560, 7095, 3495, 0, MultiLine | BlackText | SeeThrough, 0, {}},
        {"progressBar", Kind::ProgressBar, WindowName, {}, 120, 1320, 7095, 255, 3, None, 0, {}},
        {"panelBorder", Kind::Shape, WindowName, {}, 0, 1250, 7315, 4415, -1, None, DarkShadow3D, {}},
        {"folderLabel", Kind::Label, WindowName, QStringLiteral("Save to"), 120, 5205, 735, 255, 4, BlackText, 0, {}},
    };
    return table;
}

const std::vector<Spoken> &spoken()
{
    static const std::vector<Spoken> table = {
        {"openCloseFrame", QStringLiteral("COM Control"), {}, nullptr},
        {"openButton", QStringLiteral("Open"), QStringLiteral("Open the serial port and read the box's flash"), nullptr},
        {"closeButton", QStringLiteral("Close"), QStringLiteral("Stop the run and close the serial port"), nullptr},
        {"lamp", QStringLiteral("Port lamp"), QStringLiteral("Red while the port is closed, green while it is open"), nullptr},
        {"dataRequestFrame", QStringLiteral("Data Request"), {}, nullptr},
        {"startEdit", QStringLiteral("Start with block"), QStringLiteral("The first block to read"), nullptr},
        {"countEdit", QStringLiteral("Number of blocks"), QStringLiteral("How many blocks to read"), nullptr},
        {"editButton", {}, QStringLiteral("Edit the blocks to read, or take them"), nullptr},
        {"startLabel", {}, {}, "startEdit"},
        {"countLabel", {}, {}, "countEdit"},
        {"portFrame", QStringLiteral("Serial Port"), {}, nullptr},
        {"portList", QStringLiteral("Serial port"), QStringLiteral("Serial port: the COM port that the box is connected to"), nullptr},
        {"headerFrame", QStringLiteral("Header"), {}, nullptr},
        {"headerCheck", QStringLiteral("Add the header for the KUP loader"),
         QStringLiteral("Only for a full read; use it at your own risk"), nullptr},
        {"modelLabel", {}, QStringLiteral("The model that the box reported"), nullptr},
        {"headerLabel", {}, {}, "headerCheck"},
        {"aboutFrame", QStringLiteral("About"), {}, nullptr},
        {"aboutLink", {}, QStringLiteral("Opens the project's web site"), nullptr},
        {"folderButton", QStringLiteral("Directory"), QStringLiteral("Choose the folder the dumps are saved to"), nullptr},
        {"folderEdit", QStringLiteral("Save to"), QStringLiteral("The folder the dumps are saved to"), nullptr},
        {"logPane", QStringLiteral("Protocol log"), QStringLiteral("Every request to the box and its answer"), nullptr},
        {"progressBar", progressName(), QStringLiteral("Blocks received of the blocks asked for"), nullptr},
        {"folderLabel", {}, {}, "folderEdit"},
    };
    return table;
}

QString progressName()
{
    return QStringLiteral("Progress");
}

QStringList iconPaths()
{
    return {QStringLiteral(":/icons/tarvik-16.png"), QStringLiteral(":/icons/tarvik-32.png"),
            QStringLiteral(":/icons/tarvik-48.png"), QStringLiteral(":/icons/tarvik-128.png"),
            QStringLiteral(":/icons/tarvik-256.png")};
}

QFont font()
{
    QFont f(FontName);
    f.setPointSizeF(FontSize);
    f.setWeight(QFont::Normal);
    return f;
}

const std::vector<FrameStore> &frames()
{
    const auto frame = [](const char *name, const QString &caption, int extentX, int extentY) {
        return FrameStore{name, {
            {QStringLiteral("_extentx"), extentX},
            {QStringLiteral("_extenty"), extentY},
            {QStringLiteral("font"), font()},
            {QStringLiteral("caption"), caption},
            {QStringLiteral("fontsize"), float(FontSize)},
            {QStringLiteral("fontname"), FontName},
        }};
    };
    static const std::vector<FrameStore> table = {
        frame("openCloseFrame", QStringLiteral("COM Control"), 3625, 1508),
        frame("dataRequestFrame", QStringLiteral("Data Request"), 5953, 1508),
        frame("portFrame", QStringLiteral("Serial Port"), 2990, 1508),
        frame("headerFrame", QString(), 12938, 661),
        frame("aboutFrame", QStringLiteral("About"), 12938, 979),
    };
    return table;
}

int extentToTwips(int hundredthsOfMm)
{
    return int(std::lround(hundredthsOfMm * 1440.0 / 2540.0));
}

int toPixels(int twips, double dpi)
{
    return int(std::lround(twips * dpi / 1440.0));
}

QSize windowSize(double dpi)
{
    return QSize(toPixels(ClientWidth, dpi), toPixels(ClientHeight, dpi));
}

QRect place(const Control &control, double dpi)
{
    return QRect(toPixels(control.left, dpi), toPixels(control.top, dpi), toPixels(control.width, dpi),
                 toPixels(control.height, dpi));
}

QLine lineEnds(const Control &line, double dpi)
{
    return QLine(toPixels(line.left, dpi), toPixels(line.top, dpi), toPixels(line.width, dpi),
                 toPixels(line.height, dpi));
}

QSize frameExtent(const FrameStore &frame, double dpi)
{
    const auto extent = [&frame, dpi](const char *key) {
        for (const StoredProperty &p : frame.stored) {
            if (p.key == QLatin1String(key))
                return toPixels(extentToTwips(p.value.toInt()), dpi);
        }
        return 0;
    };
    return QSize(extent("_extentx"), extent("_extenty"));
}

QRectF storedPlace(const Control &control)
{
    return QRectF(control.left, control.top, control.width, control.height);
}

QRect tilePixels(const QRectF &twips, double dpiX, double dpiY)
{
    const qreal perPixelX = 1440.0 / dpiX;
    const qreal perPixelY = 1440.0 / dpiY;
    const auto whole = [](qreal t, qreal perPixel) { return int(std::nearbyint(t / perPixel)); };
    return QRect(whole(twips.left(), perPixelX), whole(twips.top(), perPixelY), whole(twips.width(), perPixelX),
                 whole(twips.height(), perPixelY));
}

QColor color(quint32 designColor)
{
    return colorFromOle(designColor);
}

QColor backColor()
{
    return QColor(BackRed, BackGreen, BackBlue);
}

QColor linkColor()
{
    return QColor(0, 0, 255);
}

QColor disabledTextColor()
{
    return QColor(109, 109, 109);
}

QColor buttonFace()
{
    return colorFromOle(ButtonFace);
}

quint32 lampColor(bool portOpen)
{
    return portOpen ? Green : Red;
}

} // namespace tarvik::Design
