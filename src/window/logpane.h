#pragma once

#include <QPlainTextEdit>

// The log pane. Its text is the log, with CR LF line ends; the program appends
// to it at the end and never sets the whole text again except to replace it.
// The user cannot change it: typed characters go to the window's key handler.
class LogPane : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit LogPane(QWidget *parent = nullptr);

    // The whole log, lines ended by CR LF.
    QString text() const;
    void replaceText(const QString &text);
    void appendText(const QString &piece);
};
