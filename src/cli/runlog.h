// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QFile>
#include <QList>
#include <QString>

#include <utility>

namespace tarvik::cli {

// The --log file of one box. Runs are appended, each as a section: a header,
// the protocol lines exactly as the window's log pane shows them, a footer.
// Header and footer are "# key: value" lines (CR LF ended, UTF-8), the only
// lines that start with "# "; every value is made plain, so that text from a
// box cannot start a line of its own, and a line of the run's text that starts
// with "#" (a process named "# result: ok") is quoted with "> ".
//
// The file is locked while it is open: one box and one process write it at a
// time, so no two runs' lines mix. Several boxes of one tarvik-dump each get a
// file of their own (logPathFor()).
class RunLog
{
public:
    using Fields = QList<std::pair<QString, QString>>;

    static inline const QString Mark = QStringLiteral("# ");
    static inline const QString Quote = QStringLiteral("> ");

    // Opens `path` for appending under the dump file's rules (never through a
    // link, never a FIFO, only a regular file of our own) and locks it. False
    // with the reason for the user when it cannot be used.
    bool open(const QString &path, QString *error);
    bool isOpen() const { return m_file.isOpen(); }
    // Protocol text as it is, but for the quote before a line that starts
    // with "#". Nothing more is written after a failed write.
    void write(const QString &text);
    // The lines of a header or footer, in one write.
    void writeFields(const Fields &fields);
    // Flushes and closes; what went wrong with any write since open(), if anything.
    QString close();
    QString error() const { return m_error; }

    // "# key: value\r\n", the value's control characters replaced.
    static QString field(const QString &key, const QString &value);
    // Local time in ISO 8601 with its offset from UTC: "2026-12-10T16:04:05+01:00".
    static QString timestamp(const QDateTime &time);

private:
    void writeBytes(const QByteArray &bytes);

    QString m_path;
    QFile m_file;
    QString m_error;
    // The file ended in the middle of a line (a run that was killed): the
    // next text starts on a line of its own.
    bool m_cutLine = false;
    bool m_lineStart = true;
};

} // namespace tarvik::cli
