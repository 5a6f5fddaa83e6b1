// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPalette>

class QStyle;
class QWidget;

namespace tarvik {

// Keeps a window and the widgets in it on one style of their own and on the
// palette the window was given, whatever style and palette the desktop's
// theme hands the application, also when the theme changes while the program
// runs. The widgets added to the window later (the port list's drop-down, a
// field's context menu) are taken in as they are first shown. Dialogs opened
// on the window (message boxes, the folder picker) are left to the desktop.
class FixedLook : public QObject
{
    Q_OBJECT
public:
    // The window's palette must be set before; it should set every role (as
    // designPalette() does), so that the widgets in the window take
    // all of it. Pop-ups of the window get `popupPalette`.
    FixedLook(QWidget *window, const QPalette &popupPalette);

    // Qt's Fusion style, one object for the whole program; null when it is
    // not available, and then the application's style is kept.
    static QStyle *style();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void adopt(QWidget *widget);

    QWidget *m_window = nullptr;
    QPalette m_popupPalette;
};

} // namespace tarvik
