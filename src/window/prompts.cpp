// SPDX-License-Identifier: GPL-3.0-or-later
#include "prompts.h"

#include <QFileDialog>
#include <QMessageBox>

namespace tarvik {

void DialogPrompts::message(QWidget *owner, const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, owner);
    // The text may carry what a box reported or a path: never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QString DialogPrompts::chooseFolder(QWidget *owner, const QString &title)
{
    return QFileDialog::getExistingDirectory(owner, title, QString(),
                                             QFileDialog::ShowDirsOnly);
}

} // namespace tarvik
