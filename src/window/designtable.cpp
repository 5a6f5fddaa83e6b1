// SPDX-License-Identifier: GPL-3.0-or-later
#include "designtable.h"

#include <cmath>

namespace tarvik::Design {

namespace {
constexpr quint32 Red = 0x000000FF;
constexpr quint32 ActiveBorder = 0x8000000A;
constexpr quint32 DarkShadow3D = 0x80000015;
} // namespace

const std::vector<Control> &controls()
{
    static const std::vector<Control> table = {
        {"TransFrame3", Kind::Frame, "Form1", QStringLiteral("COM Control"), 5280, 0, 2055, 855, -1, None, 0, {}},
        {"Command1", Kind::Button, "TransFrame3", QStringLiteral("Open"), 120, 320, 615, 375, 19, None, 0, {}},
        {"Command2", Kind::Button, "TransFrame3", QStringLiteral("Close"), 840, 320, 615, 375, 18, Disabled, 0, {}},
        {"Shape1", Kind::Shape, "TransFrame3", {}, 1680, 360, 255, 255, -1, Circle, Red, {}},
        {"TransFrame2", Kind::Frame, "Form1", QStringLiteral("Data Request"), 1800, 0, 3375, 855, -1, None, 0, {}},
        {"txtStart", Kind::TextField, "TransFrame2", QStringLiteral("0"), 1800, 180, 495, 285, 15, Disabled | BlackText | SeeThrough, 0, {}},
        {"txtNumber", Kind::TextField, "TransFrame2", QStringLiteral("1024"), 1800, 480, 495, 285, 14, Disabled | BlackText | SeeThrough, 0, {}},
        {"cmdEdit", Kind::Button, "TransFrame2", QStringLiteral("Edit"), 2520, 320, 615, 375, 13, Hidden, 0, {}},
        {"Label1", Kind::Label, "TransFrame2", QStringLiteral("Start with Block"), 240, 240, 1215, 255, 17, BlackText, 0, {}},
        {"Label2", Kind::Label, "TransFrame2", QStringLiteral("Number of Blocks"), 240, 525, 1335, 255, 16, BlackText, 0, {}},
        {"frmCOMSet", Kind::Frame, "Form1", QStringLiteral("Serial Port"), 0, 0, 1695, 855, -1, None, 0, {}},
        {"cmbCom", Kind::ComboBox, "frmCOMSet", {}, 240, 320, 1095, 315, 12, None, 0, QStringLiteral("Select the COM-Port for the receiver")},
        {"TransFrame1", Kind::Frame, "Form1", {}, 0, 840, 7335, 375, -1, None, 0, {}},
        {"chkHeader", Kind::CheckBox, "TransFrame1", {}, 120, 140, 195, 195, 9, None, 0, {}},
        {"Line3", Kind::Line, "TransFrame1", {}, 5520, 120, 5520, 360, -1, None, ActiveBorder, {}},
        {"lblModel", Kind::Label, "TransFrame1", {}, 5640, 135, 1575, 255, 11, Bold, 0, {}},
        {"Label8", Kind::Label, "TransFrame1", QStringLiteral("Add the header for the KUP - Loader  (use it at your own risk !!!)"), 480, 140, 4695, 255, 10, BlackText, 0, {}},
        {"frmAbout", Kind::Frame, "Form1", QStringLiteral("About"), 0, 5700, 7335, 560, -1, None, 0, {}},
        {"Line2", Kind::Line, "frmAbout", {}, 6000, 120, 6000, 600, -1, None, ActiveBorder, {}},
        {"Label7", Kind::Label, "frmAbout", QStringLiteral("Tarvik v2.1"), 6240, 240, 975, 255, 8, Bold | BlackText, 0, {}},
        {"Label6", Kind::Label, "frmAbout", MakerCaption, 4080, 240, 1815, 255, 7, Link, 0, {}},
        {"Line1", Kind::Line, "frmAbout", {}, 1920, 120, 1920, 600, -1, None, ActiveBorder, {}},
        {"Label5", Kind::Label, "frmAbout", QStringLiteral("For contact and  more info:"), 2040, 240, 1935, 255, 6, BlackText, 0, {}},
        {"Label4", Kind::Label, "frmAbout", AuthorLine, 120, 240, 1695, 255, 5, BlackText, 0, {}},
        {"cmdDir", Kind::Button, "Form1", QStringLiteral("Directory"), 6240, 5160, 855, 375, 2, None, 0, {}},
        {"Text2", Kind::TextField, "Form1", {}, 960, 5160, 5175, 330, 1, SeeThrough, 0, {}},
        {"Text1", Kind::TextField, "Form1", {}, 120, 1560, 7095, 3495, 0, MultiLine | BlackText | SeeThrough, 0, {}},
        {"ProgressBar1", Kind::ProgressBar, "Form1", {}, 120, 1320, 7095, 255, 3, None, 0, {}},
        {"Shape2", Kind::Shape, "Form1", {}, 0, 1250, 7315, 4415, -1, None, DarkShadow3D, {}},
        {"Label3", Kind::Label, "Form1", QStringLiteral("Save to"), 120, 5205, 735, 255, 4, BlackText, 0, {}},
    };
    return table;
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
        frame("TransFrame3", QStringLiteral("COM Control"), 3625, 1508),
        frame("TransFrame2", QStringLiteral("Data Request"), 5953, 1508),
        frame("frmCOMSet", QStringLiteral("Serial Port"), 2990, 1508),
        frame("TransFrame1", QString(), 12938, 661),
        frame("frmAbout", QStringLiteral("About"), 12938, 979),
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

} // namespace tarvik::Design
