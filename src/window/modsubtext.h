#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>

class QWidget;

// See-through text fields: a text field shows the piece of its window's
// picture that lies under it, and its text is drawn straight onto it.
//
// The window's picture is the QPixmap property "Picture" of the field's
// window. A field's place and size are read in twips from its QRectF property
// "TwipsGeometry" (relative to its container) when it has one, else taken from
// its geometry; they become pixels by the screen's twips per pixel, halves
// rounded to even.
//
// The widgets that this module hooks carry the property "OrigProcAddr" (the
// hook's object), the one sign that they are hooked: the field and its
// container, the container once for all its fields. A field whose window has
// a picture carries its background tile as the QBrush property
// "CustomBGBrush". The hooks and the tile live as long as their widgets.
namespace SeeThrough {

// Cuts the field's tile and hooks the field and its container. A second call
// for the same field cuts a new tile and hooks nothing twice.
void makeSeeThrough(QWidget *field);

// Cuts the field's tile: the field's outer size, taken from the window's
// picture at the field's place in its own container, in the button face colour
// where the picture does not reach. Without a picture, nothing is built and
// the field keeps its own background.
void buildBackgroundTile(QWidget *field);

// The hook on a field's container: when a hooked field reports a change
// (FieldNotifyEvent), the whole field is drawn anew. Reports of fields that
// are not hooked pass without a repaint.
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

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void notifyContainer();
    void paintTile(QEvent *event);

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

} // namespace SeeThrough
