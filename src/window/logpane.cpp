#include "logpane.h"

#include <QTextCursor>

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
}

QString LogPane::text() const
{
    QString out = toPlainText();
    out.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return out;
}

void LogPane::replaceText(const QString &text)
{
    setPlainText(toDocument(text));
}

void LogPane::appendText(const QString &piece)
{
    if (piece.isEmpty())
        return;
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(toDocument(piece));
}
