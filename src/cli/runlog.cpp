// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/runlog.h"

#include "dump/ownfile.h"
#include "dump/text.h"

#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik::cli {

namespace {

const QString LineEnd = QStringLiteral("\r\n");

// Whether the file's last byte ends a line; an empty file does.
bool endsWithLineEnd(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size == 0)
        return true;
    char last = '\n';
    return ::pread(fd, &last, 1, st.st_size - 1) != 1 || last == '\n';
}

} // namespace

bool RunLog::open(const QString &path, QString *error)
{
    m_path = path;
    const auto cannotWrite = [&](const QString &reason) {
        *error = QStringLiteral("Cannot write the log %1: %2").arg(path, reason);
        return false;
    };
    const QFileInfo where(path);
    const int folder = openFolder(where.path());
    if (folder < 0)
        return cannotWrite(systemReason(errno));
    // Read too: whether the last run's last line was cut.
    const OwnFile own = openOwnFile(folder, QFile::encodeName(where.fileName()), O_RDWR, true);
    ::close(folder);
    if (own.error == OwnFile::Error::InTheWay) {
        *error = QStringLiteral("%1 is %2: remove it, or choose another log file.").arg(path, own.reason);
        return false;
    }
    if (own.fd < 0)
        return cannotWrite(own.reason);
    // Another run writing the same file would mix its lines with ours. A file
    // system without locks still takes the log.
    if (::flock(own.fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(own.fd);
        *error = QStringLiteral("%1 is being written by another run of tarvik-dump: choose another log file.")
                         .arg(path);
        return false;
    }
    if (!makeBlocking(own.fd, true)) {
        const int reason = errno;
        ::close(own.fd);
        return cannotWrite(systemReason(reason));
    }
    m_cutLine = !endsWithLineEnd(own.fd);
    m_lineStart = true;
    if (!m_file.open(own.fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle)) {
        ::close(own.fd);
        return cannotWrite(m_file.errorString());
    }
    return true;
}

void RunLog::write(const QString &text)
{
    // A line from outside the run (a process or device name, a system's
    // message) could pass for a header line: such a line is quoted.
    QString guarded;
    guarded.reserve(text.size());
    bool lineStart = m_lineStart;
    for (const QChar c : text) {
        if (lineStart && c == Mark.front())
            guarded += Quote;
        guarded += c;
        lineStart = c == u'\n';
    }
    writeBytes(guarded.toLatin1());
}

void RunLog::writeFields(const Fields &fields)
{
    QString text;
    for (const auto &[key, value] : fields)
        text += field(key, value);
    writeBytes(text.toUtf8());
}

void RunLog::writeBytes(const QByteArray &bytes)
{
    if (!m_file.isOpen() || !m_error.isEmpty())
        return;
    const QByteArray all = m_cutLine ? LineEnd.toLatin1() + bytes : bytes;
    if (m_file.write(all) != all.size() || !m_file.flush()) {
        m_error = QStringLiteral("Cannot write the log %1: %2").arg(m_path, m_file.errorString());
        return;
    }
    m_cutLine = false;
    m_lineStart = all.endsWith('\n');
}

QString RunLog::close()
{
    if (m_file.isOpen() && !m_file.flush() && m_error.isEmpty())
        m_error = QStringLiteral("Cannot write the log %1: %2").arg(m_path, m_file.errorString());
    m_file.close();
    return m_error;
}

QString RunLog::field(const QString &key, const QString &value)
{
    return Mark + key + QStringLiteral(": ") + withoutControls(value) + LineEnd;
}

QString RunLog::timestamp(const QDateTime &time)
{
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + (offset < 0 ? u'-' : u'+')
           + QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace tarvik::cli
