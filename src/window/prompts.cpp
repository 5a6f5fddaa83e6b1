// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/prompts.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace tarvik {

void DialogPrompts::message(QWidget *owner, const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, owner);
    // The text may carry what a box reported or a path: never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

int DialogPrompts::ask(QWidget *owner, const QString &text, const QString &title, const QStringList &buttons)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, owner);
    box.setTextFormat(Qt::PlainText);
    QList<QAbstractButton *> added;
    for (const QString &caption : buttons)
        added << box.addButton(caption, added.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::ActionRole);
    if (!added.isEmpty()) {
        box.setDefaultButton(qobject_cast<QPushButton *>(added.first()));
        // Without one, a box of several buttons ignores Escape.
        box.setEscapeButton(added.last());
    }
    box.exec();
    return int(added.indexOf(box.clickedButton()));
}

QString DialogPrompts::chooseFolder(QWidget *owner, const QString &title)
{
    return QFileDialog::getExistingDirectory(owner, title, QString(),
                                             QFileDialog::ShowDirsOnly);
}

void DialogPrompts::showFolder(const QString &folder)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

} // namespace tarvik
