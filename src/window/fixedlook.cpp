// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/fixedlook.h"

#include <QApplication>
#include <QChildEvent>
#include <QDialog>
#include <QPointer>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

namespace tarvik {

namespace {

const char *const WindowStyle = "Fusion";

} // namespace

FixedLook::FixedLook(QWidget *window, const QPalette &popupPalette)
    : QObject(window), m_window(window), m_popupPalette(popupPalette)
{
    adopt(window);
}

QStyle *FixedLook::style()
{
    // Widgets do not own the style they are given, and a window's widgets
    // may outlive the window object's members: the application keeps it.
    static QPointer<QStyle> shared;
    if (!shared) {
        shared = QStyleFactory::create(QLatin1String(WindowStyle));
        if (shared)
            shared->setParent(QCoreApplication::instance());
    }
    return shared;
}

void FixedLook::adopt(QWidget *widget)
{
    if (qobject_cast<QDialog *>(widget))
        return;
    if (QStyle *own = style(); own && widget->style() != own)
        widget->setStyle(own);
    // A pop-up takes no palette from the widget it belongs to, and an item
    // view in one draws with what it was given explicitly, over the
    // application's menu palette: each widget of it gets the palette itself.
    if (widget->window() != m_window)
        widget->setPalette(m_popupPalette);
    widget->installEventFilter(this);
    for (QObject *child : widget->children()) {
        if (child->isWidgetType())
            adopt(static_cast<QWidget *>(child));
    }
}

bool FixedLook::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ChildPolished) {
        QObject *child = static_cast<QChildEvent *>(event)->child();
        if (child && child->isWidgetType()) {
            auto *widget = static_cast<QWidget *>(child);
            if (widget->style() != style() || widget->window() != m_window)
                adopt(widget);
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace tarvik
