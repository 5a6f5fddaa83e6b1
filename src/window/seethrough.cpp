// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/seethrough.h"

#include "window/designtable.h"

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyle>
#include <QTextEdit>

namespace tarvik::SeeThrough {

namespace {

template<typename Hook>
Hook *hookOn(const QWidget *widget)
{
    return widget->findChild<Hook *>(QString(), Qt::FindDirectChildrenOnly);
}

// The widget that draws the field's text: the viewport of a scrolling field,
// else the field itself.
QWidget *clientWidget(QWidget *field)
{
    if (auto *area = qobject_cast<QAbstractScrollArea *>(field))
        return area->viewport();
    return field;
}

// The area inside the field's border, in the coordinates of its client widget.
QRect clientRect(QWidget *field, QWidget *client)
{
    if (client != field)
        return client->rect();
    if (auto *edit = qobject_cast<QLineEdit *>(field)) {
        const int border = edit->hasFrame()
                ? field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, field) : 0;
        return field->rect().adjusted(border, border, -border, -border);
    }
    return field->contentsRect();
}

// The field's whole client area is drawn anew, in one go with the rest of
// the window. The frame and scroll bars around it do not change with its text.
void repaintWhole(QWidget *field)
{
    clientWidget(field)->update();
}

// The text is drawn without a background of its own, onto the tile.
void useTransparentBase(QWidget *field)
{
    QPalette palette = field->palette();
    palette.setBrush(QPalette::Base, Qt::transparent);
    field->setPalette(palette);
}

} // namespace

bool isHooked(const QWidget *widget)
{
    return hookOn<FieldHook>(widget) || hookOn<ContainerHook>(widget);
}

QBrush backgroundTile(const QWidget *field)
{
    const FieldHook *hook = hookOn<FieldHook>(field);
    return hook ? hook->tile() : QBrush();
}

void makeSeeThrough(QWidget *field, const QPixmap &picture, const QRectF &givenTwips)
{
    QWidget *container = field->parentWidget();
    if (container && !hookOn<ContainerHook>(container))
        new ContainerHook(container);
    FieldHook *hook = hookOn<FieldHook>(field);
    if (!hook)
        hook = new FieldHook(field);
    if (picture.isNull())
        return;

    const QRect cut = givenTwips.isEmpty()
            ? field->geometry()
            : Design::tilePixels(givenTwips, field->logicalDpiX(), field->logicalDpiY());
    const int w = cut.width();
    const int h = cut.height();
    const int x = cut.x();
    const int y = cut.y();

    QBrush brush;
    if (w > 0 && h > 0) {
        QPixmap tile(w, h);
        tile.fill(Design::buttonFace());
        QPainter painter(&tile);
        painter.drawPixmap(QRectF(0, 0, w, h), picture, QRectF(x, y, w, h));
        painter.end();
        brush = QBrush(tile);
    }
    // A scrolling field's client area is covered by the tile: nothing behind it
    // needs drawing first.
    QWidget *client = clientWidget(field);
    if (client != field)
        client->setAttribute(Qt::WA_OpaquePaintEvent, brush.style() != Qt::NoBrush);
    hook->setTile(brush);
    useTransparentBase(field);
    repaintWhole(field);
}

ContainerHook::ContainerHook(QWidget *container)
    : QObject(container)
{
    container->installEventFilter(this);
}

bool ContainerHook::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == FieldNotifyEvent::eventType()) {
        QWidget *child = static_cast<FieldNotifyEvent *>(event)->field();
        if (child && hookOn<FieldHook>(child))
            repaintWhole(child);
    }
    return QObject::eventFilter(watched, event);
}

FieldHook::FieldHook(QWidget *field)
    : QObject(field), m_field(field), m_client(clientWidget(field))
{
    field->installEventFilter(this);
    if (m_client != field)
        m_client->installEventFilter(this);

    if (auto *edit = qobject_cast<QLineEdit *>(field)) {
        connect(edit, &QLineEdit::textChanged, this, &FieldHook::notifyContainer);
        connect(edit, &QLineEdit::cursorPositionChanged, this, &FieldHook::notifyContainer);
        connect(edit, &QLineEdit::selectionChanged, this, &FieldHook::notifyContainer);
    } else if (auto *plain = qobject_cast<QPlainTextEdit *>(field)) {
        connect(plain, &QPlainTextEdit::textChanged, this, &FieldHook::notifyContainer);
        connect(plain, &QPlainTextEdit::cursorPositionChanged, this, &FieldHook::notifyContainer);
        connect(plain, &QPlainTextEdit::selectionChanged, this, &FieldHook::notifyContainer);
    } else if (auto *rich = qobject_cast<QTextEdit *>(field)) {
        connect(rich, &QTextEdit::textChanged, this, &FieldHook::notifyContainer);
        connect(rich, &QTextEdit::cursorPositionChanged, this, &FieldHook::notifyContainer);
        connect(rich, &QTextEdit::selectionChanged, this, &FieldHook::notifyContainer);
    }
    // A scroll area moves its pixels on a scroll; the tile must not move with them.
    if (auto *area = qobject_cast<QAbstractScrollArea *>(field)) {
        const auto scrolled = [this] { repaintWhole(m_field); };
        connect(area->verticalScrollBar(), &QScrollBar::valueChanged, this, scrolled);
        connect(area->horizontalScrollBar(), &QScrollBar::valueChanged, this, scrolled);
    }
}

bool FieldHook::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Paint:
        if (watched == m_client)
            paintTile(event);
        break;
    case QEvent::FocusIn:
    case QEvent::FocusOut:
    case QEvent::EnabledChange:
        if (watched == m_field)
            notifyContainer();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void FieldHook::paintTile(QEvent *event)
{
    if (m_tile.style() == Qt::NoBrush)
        return;
    const QRect client = clientRect(m_field, m_client);
    QPainter painter(m_client);
    painter.setClipRegion(static_cast<QPaintEvent *>(event)->region() & client);
    painter.setBrushOrigin(client.topLeft());
    painter.fillRect(client, m_tile);
}

void FieldHook::notifyContainer()
{
    QWidget *container = m_field->parentWidget();
    if (!container)
        return;
    FieldNotifyEvent notice(m_field);
    QCoreApplication::sendEvent(container, &notice);
}

FieldNotifyEvent::FieldNotifyEvent(QWidget *field)
    : QEvent(eventType()), m_field(field)
{
}

QEvent::Type FieldNotifyEvent::eventType()
{
    static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
    return type;
}

} // namespace tarvik::SeeThrough
