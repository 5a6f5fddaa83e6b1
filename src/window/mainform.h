// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QPixmap>
#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace tarvik {

class ClickLabel;
class LogPane;
class PortCombo;
class RunBar;
class ShapeWidget;

// The main window's controls as the design table lays them out, by role.
struct MainForm {
    // Every control of the design, by its object name.
    QHash<QString, QWidget *> controls;
    // The background photograph; null when it could not be read.
    QPixmap picture;

    QPushButton *openButton = nullptr;
    QPushButton *closeButton = nullptr;
    QPushButton *editButton = nullptr;
    QPushButton *folderButton = nullptr;
    QLineEdit *startEdit = nullptr;
    QLineEdit *countEdit = nullptr;
    QLineEdit *folderEdit = nullptr;
    LogPane *logPane = nullptr;
    PortCombo *portList = nullptr;
    QCheckBox *headerCheck = nullptr;
    ClickLabel *headerLabel = nullptr;
    ClickLabel *aboutLink = nullptr;
    QLabel *modelLabel = nullptr;
    ShapeWidget *lamp = nullptr;
    RunBar *progressBar = nullptr;
};

// Builds the design onto `window`: the window's title, icon, size, palette
// and font; every control of the design table in its container, with its
// place, look, tooltip and object name; the tab order; the window's fixed
// look; and the fields that the table marks SeeThrough, over the picture.
// Nothing is connected: the window wires the controls to its handlers itself.
MainForm buildMainForm(QWidget *window);

} // namespace tarvik
