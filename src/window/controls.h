// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include <functional>

class QMenu;

namespace tarvik {

// Small widgets that give the window's controls what the window relies on.

// A tooltip that shows `text` as it is, however much it looks like markup
// (a path or a device name may hold anything).
QString plainToolTip(const QString &text);

// A label with a click handler.
class ClickLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ClickLabel(QWidget *parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool m_pressed = false;
};

// A check box without a caption of its own (a label beside it serves as
// one): its indicator fills the whole box, which is all it answers clicks on.
class IndicatorCheckBox : public QCheckBox
{
    Q_OBJECT
public:
    explicit IndicatorCheckBox(QWidget *parent = nullptr);

protected:
    bool hitButton(const QPoint &pos) const override;
    void paintEvent(QPaintEvent *event) override;
};

// A shape drawn on its container: a filled circle or a rectangle outline.
// Its colour is one of the design's colour numbers (see Design::color()).
class ShapeWidget : public QWidget
{
    Q_OBJECT
public:
    enum class Form { Circle, Rectangle };

    ShapeWidget(Form form, quint32 color, QWidget *parent = nullptr);

    quint32 fillColor() const { return m_color; }
    void setFillColor(quint32 color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Form m_form;
    quint32 m_color;
};

// A one-pixel line between two points of its container, given in pixels.
class LineWidget : public QWidget
{
    Q_OBJECT
public:
    LineWidget(const QLine &ends, const QColor &color, QWidget *parent = nullptr);

    // The end points in the container's coordinates.
    QLine line() const { return QLine(m_from + pos(), m_to + pos()); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPoint m_from;
    QPoint m_to;
    QColor m_color;
};

// The port list. Each entry's tooltip and accessible description name the
// device behind it; they are refreshed whenever the list is opened.
class PortCombo : public QComboBox
{
    Q_OBJECT
public:
    explicit PortCombo(QWidget *parent = nullptr);
    void refreshToolTips();
    void showPopup() override;
};

// The run's progress bar. It draws a focus ring while it has the keyboard
// focus, is filled in the design's error red once marked failed, and offers
// its actions (QWidget::addAction) as a context menu by the mouse, the Menu
// key and Shift+F10.
class RunBar : public QProgressBar
{
    Q_OBJECT
public:
    explicit RunBar(QWidget *parent = nullptr);

    void setFailed(bool failed);
    bool isFailed() const { return m_failed; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    bool m_failed = false;
    QColor m_fill; // while failed: the colour it had
    QPointer<QMenu> m_menu;
};

// Tells assistive technology a short text once, wherever the focus is: a
// notification that shows with the text as its name. It draws nothing.
class Announcer : public QWidget
{
    Q_OBJECT
public:
    explicit Announcer(QWidget *parent = nullptr);

    void announce(const QString &text);
    // Out of the way until the next text.
    void clear();

signals:
    void announced(const QString &text);
};

// What the port list says of COM n: its device path with the system's
// description, then its /dev/serial/by-id link and the USB adapter behind it
// when there are any, one to a line.
QString portDescription(int n);

// Return and keypad Enter click a focused push button outside a dialog too,
// as Space does.
class EnterClicks : public QObject
{
    Q_OBJECT
public:
    explicit EnterClicks(QPushButton *button);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// Shows a widget's tooltip when the keyboard moves the focus onto it: a
// tooltip that the mouse alone reaches leaves keyboard users out.
class ToolTipOnFocus : public QObject
{
    Q_OBJECT
public:
    explicit ToolTipOnFocus(QWidget *target);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// Routes the characters typed into a widget through a key handler that gets
// the character and returns the one to type, or a null QChar to discard it.
// Keys that type no character (Delete, arrows, Home, End ...) and shortcuts
// with Ctrl, Alt or Meta never reach the handler.
class KeyPressFilter : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<QChar(QChar typed)>;
    KeyPressFilter(QWidget *target, Handler handler);

    static bool typesCharacter(const QKeyEvent *event);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Handler m_handler;
};

} // namespace tarvik
