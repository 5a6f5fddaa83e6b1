// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transframe/hostobjects.h"
#include "transframe/propertybag.h"

#include <QPointer>
#include <QWidget>

#include <array>

class QLabel;

namespace tarvik {

class FrameLine;

// TransFrame: a group frame with an etched border of one-pixel lines and a
// caption near its top left corner, whose background can show the window's
// picture through it.
//
// Create it as a child of the widget that holds the window's controls. Then
// call InitProperties() for a fresh instance, or ReadProperties() with the
// instance's stored properties and AmbientProperties(font, name, true) at run
// time. Give it its geometry (pixels) and create the controls it holds as its
// children: they stack above the border and the caption. The border follows
// every resize. With BackStyle 0, the first paint of the parent after loading
// makes the frame take a snapshot of what the window shows beneath it and
// draw that as its background; it keeps the snapshot until a paint with
// another BackStyle removes it. Event positions are in twips.
//
// Setters end with PropertyChanged(name). Values that overflow their 16-bit
// form throw std::overflow_error; stored values of the wrong kind throw
// std::invalid_argument. A setter that throws changes nothing.
class TransFrame : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(quint32 BackColor READ backColor WRITE setBackColor)
    Q_PROPERTY(quint32 ForeColor READ foreColor WRITE setForeColor)
    Q_PROPERTY(bool Enabled READ enabled WRITE setEnabled)
    Q_PROPERTY(tarvik::FontRef Font READ fontObject WRITE setFontObject)
    Q_PROPERTY(qint32 BorderStyle READ borderStyle WRITE setBorderStyle)
    Q_PROPERTY(QString Caption READ caption WRITE setCaption)
    Q_PROPERTY(qint32 Appearance READ appearance WRITE setAppearance)
    Q_PROPERTY(QWidgetList Controls READ controls)
    Q_PROPERTY(bool FontUnderline READ fontUnderline WRITE setFontUnderline)
    Q_PROPERTY(bool FontTransparent READ fontTransparent WRITE setFontTransparent)
    Q_PROPERTY(bool FontStrikethru READ fontStrikethru WRITE setFontStrikethru)
    Q_PROPERTY(float FontSize READ fontSize WRITE setFontSize)
    Q_PROPERTY(QString FontName READ fontName WRITE setFontName)
    Q_PROPERTY(bool FontItalic READ fontItalic WRITE setFontItalic)
    Q_PROPERTY(bool FontBold READ fontBold WRITE setFontBold)
    Q_PROPERTY(QWidget *hWnd READ hWnd)
    Q_PROPERTY(tarvik::PictureRef MouseIcon READ mouseIcon WRITE setMouseIcon)
    Q_PROPERTY(qint16 MousePointer READ mousePointer WRITE setMousePointer)
    Q_PROPERTY(qint32 BackStyle READ backStyle WRITE setBackStyle)

public:
    explicit TransFrame(QWidget *parent = nullptr);

    quint32 backColor() const;
    void setBackColor(quint32 color);
    quint32 foreColor() const;
    void setForeColor(quint32 color);
    bool enabled() const;
    void setEnabled(bool enabled);
    FontRef fontObject() const;
    // The frame takes this very object; a null one stands for the application font.
    void setFontObject(const FontRef &font);
    qint32 borderStyle() const;
    void setBorderStyle(qint32 style);
    QString caption() const;
    void setCaption(const QString &caption);
    qint32 appearance() const;
    void setAppearance(qint32 appearance);
    // The caption label and the eight border lines.
    QWidgetList controls() const;
    bool fontUnderline() const;
    void setFontUnderline(bool underline);
    bool fontTransparent() const;
    void setFontTransparent(bool transparent);
    bool fontStrikethru() const;
    void setFontStrikethru(bool strikethru);
    float fontSize() const;
    void setFontSize(float size);
    QString fontName() const;
    void setFontName(const QString &name);
    bool fontItalic() const;
    void setFontItalic(bool italic);
    bool fontBold() const;
    void setFontBold(bool bold);
    QWidget *hWnd();
    PictureRef mouseIcon() const;
    void setMouseIcon(const PictureRef &icon);
    // 0 default, 1 arrow, 2 cross, 3 I-beam, 5 and 15 size all, 6 to 9 sizing,
    // 10 up arrow, 11 hourglass, 12 no drop, 13 arrow and hourglass,
    // 14 arrow and question mark, 99 MouseIcon.
    qint16 mousePointer() const;
    void setMousePointer(qint16 pointer);
    qint32 backStyle() const;
    void setBackStyle(qint32 style);

    // A fresh instance: the ambient font, the display name as caption, the border.
    void InitProperties(const AmbientProperties &ambient);
    // A stored instance. "Font" may hold a FontRef or a QFont, "MouseIcon" a
    // PictureRef or a QPixmap. While the ambient values say the program runs,
    // the frame starts watching its parent's paints for the backdrop.
    void ReadProperties(const PropertyBag &bag, const AmbientProperties &ambient);
    // Writes every property; the store keeps those that differ from their defaults.
    void WriteProperties(PropertyBag &bag, const AmbientProperties &ambient) const;

    QLabel *captionLabel() const;
    FrameLine *topLine(int index) const;
    FrameLine *leftLine(int index) const;
    FrameLine *rightLine(int index) const;
    FrameLine *bottomLine(int index) const;

    // Twips per pixel across and down; by default taken from the logical DPI.
    qreal twipsPerPixelX() const;
    qreal twipsPerPixelY() const;
    // Sets them (0 and 0 go back to the logical DPI) and lays the border out
    // anew. Throws std::overflow_error when 9 pixels in twips overflow 16 bits.
    void setTwipsPerPixel(qreal x, qreal y);

    bool backdropApplied() const;
    // The background picture, drawn from the top left corner over the back colour.
    PictureRef picture() const;

signals:
    void PropertyChanged(const QString &name);

    // Raised for input on the frame itself, not on the caption or on the
    // controls it holds. Handlers get the arguments by reference (connect
    // them directly); setting the key code or character to 0 swallows the key,
    // which otherwise goes on to the parent.
    void Click();
    void DblClick();
    void KeyDown(qint16 &keyCode, qint16 &shift);
    void KeyPress(qint16 &character);
    void KeyUp(qint16 &keyCode, qint16 &shift);
    void MouseDown(qint16 &button, qint16 &shift, float &x, float &y);
    void MouseMove(qint16 &button, qint16 &shift, float &x, float &y);
    void MouseUp(qint16 &button, qint16 &shift, float &x, float &y);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    struct MouseArgs
    {
        qint16 button;
        qint16 shift;
        float x;
        float y;
    };

    void layoutConstituents();
    void onCaptionChanged();
    void hookParent();
    void parentPaint();
    void applyBackdrop(bool on);
    PictureRef captureBackdrop();
    PictureRef captureWindowArea(QWidget *window, bool clientOnly, qint32 left, qint32 top,
                                 qint32 width, qint32 height);
    static PictureRef bitmapToPicture(const QPixmap &bitmap);

    void applyColors();
    void applyFont();
    void applyCursor();
    void setPicture(const PictureRef &picture);
    bool inputOnSurface(const QPointF &pos) const;
    bool inputOfChild() const;
    MouseArgs mouseArgs(const QMouseEvent *event, qint16 button) const;

    // The frame's own values
    qint32 m_borderStyle = 0;
    QString m_caption;
    qint32 m_backStyle = 0;

    // Held for the surface
    quint32 m_backColor = 0x8000000F;
    quint32 m_foreColor = 0x80000012;
    FontRef m_font;
    qint16 m_appearance = 1;
    bool m_fontTransparent = true;
    PictureRef m_mouseIcon;
    qint16 m_mousePointer = 0;
    PictureRef m_picture;

    // Drawing state
    bool m_backdropApplied = false;
    QPointer<QWidget> m_myParent;
    bool m_inParentPaint = false;
    bool m_parentPaintQueued = false;

    QLabel *m_captionLabel = nullptr;
    std::array<FrameLine *, 2> m_topLines{};
    std::array<FrameLine *, 2> m_leftLines{};
    std::array<FrameLine *, 2> m_rightLines{};
    std::array<FrameLine *, 2> m_bottomLines{};

    qreal m_twipsX = 0;
    qreal m_twipsY = 0;
    bool m_clickArmed = false;
};

} // namespace tarvik
