// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QTextDocument>

// What a tooltip or message shows on screen: rich text as rendered, line
// breaks as "\n"; plain text as it is.
inline QString shownText(const QString &text)
{
    if (!Qt::mightBeRichText(text))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText().replace(QChar::LineSeparator, u'\n').replace(QChar::Nbsp, u' ');
}
