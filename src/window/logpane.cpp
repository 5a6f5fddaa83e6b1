// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/logpane.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

namespace tarvik {

namespace {

// The document keeps paragraphs; the log speaks CR LF.
QString toDocument(const QString &text)
{
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return out;
}

} // namespace

LogPane::LogPane(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setTabChangesFocus(true);
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(0);
    connect(&m_flushTimer, &QTimer::timeout, this, &LogPane::flush);
    // The lines stay as they are once written: keep their shaped glyphs, so a
    // repaint draws them without laying out their text again. This runs
    // before the document lays out the changed lines.
    connect(document(), &QTextDocument::contentsChange, this, [this](int from, int, int added) {
        QTextBlock block = document()->findBlock(from);
        const int end = from + added;
        for (; block.isValid() && block.position() <= end; block = block.next())
            block.layout()->setCacheEnabled(true);
    });
}

QString LogPane::text()
{
    flush();
    QString out = toPlainText();
    out.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return out;
}

void LogPane::replaceText(const QString &text)
{
    m_pending.clear();
    setPlainText(toDocument(text));
}

void LogPane::post(const QString &piece)
{
    if (piece.isEmpty())
        return;
    if (m_pending.isEmpty()) {
        m_flushTimer.start();
        viewport()->update();
    }
    m_pending += piece;
}

void LogPane::flush()
{
    m_flushTimer.stop();
    if (m_pending.isEmpty())
        return;
    const QString piece = m_pending;
    m_pending.clear();
    appendText(piece);
}

void LogPane::appendText(const QString &piece)
{
    flush();
    if (piece.isEmpty())
        return;
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(toDocument(piece));
}

} // namespace tarvik
