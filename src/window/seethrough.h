// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QBrush>
#include <QPixmap>
#include <QRectF>
#include <QEvent>
#include <QObject>
#include <QPointer>

class QWidget;

// See-through text fields: a text field shows the piece of its window's
// picture that lies under it, and its text is drawn straight onto it.
//
// A field's place and size are given as the design table stores them, in
// twips, relative to its container, or taken from its geometry when none are
// given; the table turns them into pixels by the screen's twips per pixel,
// halves rounded to even (Design::tilePixels).
//
// The field and its container get a hook each (a child object), the container
// once for all its fields; the field's hook keeps its background tile. The
// hooks and the tile live as long as their widgets.
namespace tarvik::SeeThrough {

// Hooks the field and its container and cuts the field's tile from the
// window's picture. A second call for the same field cuts a new tile and hooks
// nothing twice.
void makeSeeThrough(QWidget *field, const QPixmap &picture, const QRectF &twips = QRectF());

// The tile a see-through field is drawn on: the field's outer size, taken from
// the window's picture at the field's place in its own container, in the
// button face colour where the picture does not reach. Without a picture (or
// for a field that is not see-through) there is none, and the field keeps its
// own background.
QBrush backgroundTile(const QWidget *field);

// Whether the widget carries a hook: a see-through field, or the container of one.
bool isHooked(const QWidget *widget);

class ContainerHook : public QObject
{
    Q_OBJECT
public:
    explicit ContainerHook(QWidget *container);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// The hook on a field: lays the tile over the field's client area before the
// field draws its text, draws the whole field anew after every scroll, and
// reports changes of the text, the caret, the selection and the focus to the
// field's container.
class FieldHook : public QObject
{
    Q_OBJECT
public:
    explicit FieldHook(QWidget *field);

    QBrush tile() const { return m_tile; }
    void setTile(const QBrush &tile) { m_tile = tile; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void notifyContainer();
    void paintTile(QEvent *event);

    QBrush m_tile;

    QWidget *m_field = nullptr;
    QPointer<QWidget> m_client; // the widget that draws the text
};

// What a hooked field sends to its container after a change.
class FieldNotifyEvent : public QEvent
{
public:
    explicit FieldNotifyEvent(QWidget *field);
    static QEvent::Type eventType();
    QWidget *field() const { return m_field; }

private:
    QWidget *m_field = nullptr;
};

} // namespace tarvik::SeeThrough
