// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/portinfo.h"

#include "dump/ownfile.h"
#include "dump/text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik {

namespace {

// What makes a file itself, whatever path reaches it.
struct FileId {
    bool device = false;
    dev_t dev = 0;
    ino_t ino = 0;

    bool operator==(const FileId &o) const { return device == o.device && dev == o.dev && ino == o.ino; }
};

std::optional<FileId> fileId(const QString &path)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return FileId{true, st.st_rdev, S_ISCHR(st.st_mode) ? ino_t(1) : ino_t(2)};
    return FileId{false, st.st_dev, st.st_ino};
}

// A file that the kernel fills with one line of text (sysfs attributes, /proc/PID/comm).
QString readLine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.read(4096);
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    return QString::fromUtf8(bytes);
}

bool isHiddenControl(char32_t c)
{
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E || c == 0x200F
           || c == 0x061C;
}

// The USB device above a tty in the sysfs tree: the nearest folder up from
// the tty's device that has an idVendor, without leaving the tree.
QString usbDeviceFolder(const QString &ttyName, const QString &sysfs)
{
    const QString root = QFileInfo(sysfs).canonicalFilePath();
    QString folder = QFileInfo(sysfs + QStringLiteral("/class/tty/") + ttyName + QStringLiteral("/device"))
                             .canonicalFilePath();
    if (root.isEmpty())
        return {};
    while (!folder.isEmpty() && folder.startsWith(root + u'/')) {
        if (QFileInfo::exists(folder + QStringLiteral("/idVendor")))
            return folder;
        folder = QFileInfo(folder).path();
    }
    return {};
}

QString byIdLink(const QString &device, const QString &byIdFolder)
{
    const std::optional<FileId> target = fileId(device);
    if (!target)
        return {};
    const QDir dir(byIdFolder);
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        const QString link = dir.filePath(name);
        if (fileId(link) == target)
            return link;
    }
    return {};
}

// The PID in a lock file. Only a regular file with one name is read, without
// following a link or waiting.
qint64 lockPid(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat st {};
    QByteArray bytes;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1) {
        bytes.resize(256);
        const ssize_t n = ::read(fd, bytes.data(), size_t(bytes.size()));
        bytes.resize(n > 0 ? n : 0);
    }
    ::close(fd);
    return lockFilePid(bytes);
}

enum class Holds { Yes, No, Unknown };

// Whether process `pid` has the file `target` open, as far as its descriptors
// may be seen: our own user's processes, or all of them for root.
Holds holdsFile(qint64 pid, const FileId &target, const QString &proc)
{
    const QString folder = QStringLiteral("%1/%2/fd").arg(proc).arg(pid);
    if (::access(QFile::encodeName(folder).constData(), R_OK | X_OK) != 0)
        return Holds::Unknown;
    const QDir fds(folder);
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        if (fileId(fds.filePath(fd)) == target)
            return Holds::Yes;
    }
    return Holds::No;
}

// The processes other than `ownPid`, in order.
QList<qint64> otherProcesses(qint64 ownPid, const QString &proc)
{
    QList<qint64> pids;
    for (const QString &name : QDir(proc).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const qint64 pid = name.toLongLong(&ok);
        if (ok && pid > 0 && pid != ownPid)
            pids << pid;
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

// Whether process `pid` holds the master side of the pseudo-terminal with
// index `pts`: it is then the far end of the line, not a second reader.
bool holdsPtyMaster(qint64 pid, int pts, const QString &proc)
{
    const QDir fds(QStringLiteral("%1/%2/fd").arg(proc).arg(pid));
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        if (!QFileInfo(fds.filePath(fd)).symLinkTarget().endsWith(QLatin1String("ptmx")))
            continue;
        QFile info(QStringLiteral("%1/%2/fdinfo/%3").arg(proc).arg(pid).arg(fd));
        if (!info.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : info.readAll().split('\n')) {
            if (line.startsWith("tty-index:") && line.mid(10).trimmed().toInt() == pts)
                return true;
        }
    }
    return false;
}

PortHolder holder(qint64 pid, const QString &proc)
{
    PortHolder found;
    found.pid = pid;
    found.name = plainText(readLine(QStringLiteral("%1/%2/comm").arg(proc).arg(pid)));
    return found;
}

} // namespace

QString plainText(const QString &outside)
{
    QString out;
    out.reserve(outside.size());
    for (const char32_t c : outside.toUcs4()) {
        const QChar::Category category = QChar::category(c);
        if (category == QChar::Other_Control || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph || isHiddenControl(c) || c == 0xFFFD)
            continue;
        out += QString::fromUcs4(&c, 1);
    }
    return out;
}

bool sameFile(const QString &a, const QString &b)
{
    const std::optional<FileId> idA = fileId(a);
    const std::optional<FileId> idB = fileId(b);
    if (idA && idB)
        return *idA == *idB;
    if (idA || idB)
        return false;
    return QDir::cleanPath(QFileInfo(a).absoluteFilePath()) == QDir::cleanPath(QFileInfo(b).absoluteFilePath());
}

QList<PortDetails> collectPortDetails(const QStringList &devices, const SystemFolders &folders)
{
    QList<PortDetails> ports;
    for (const QString &device : devices) {
        PortDetails port;
        port.device = device;
        port.byId = byIdLink(device, folders.byId);
        const QString canonical = QFileInfo(device).canonicalFilePath();
        const QString usb = usbDeviceFolder(QFileInfo(canonical.isEmpty() ? device : canonical).fileName(),
                                            folders.sysfs);
        if (!usb.isEmpty()) {
            port.vendorId = readLine(usb + QStringLiteral("/idVendor"));
            port.productId = readLine(usb + QStringLiteral("/idProduct"));
            port.manufacturer = readLine(usb + QStringLiteral("/manufacturer"));
            port.product = readLine(usb + QStringLiteral("/product"));
            port.serialNumber = readLine(usb + QStringLiteral("/serial"));
        }
        ports << port;
    }
    return ports;
}

QString serialLockFolder()
{
    if (const QString own = qEnvironmentVariable("TARVIK_LOCK_FOLDER"); !own.isEmpty())
        return own;
    return QFileInfo(QStringLiteral("/run/lock")).isDir() ? QStringLiteral("/run/lock") : QStringLiteral("/var/lock");
}

QStringList SystemFolders::defaultLockFolders()
{
    const QString folder = serialLockFolder();
    if (folder == QLatin1String("/run/lock"))
        return {folder, QStringLiteral("/var/lock")};
    return {folder};
}

QString lockFileName(const QString &device)
{
    QString name = device;
    if (name.startsWith(QLatin1String("/dev/")))
        name = name.mid(5);
    return QStringLiteral("LCK..") + name.replace(u'/', u'_');
}

QString serialLockPath(const QString &devicePath)
{
    return serialLockFolder() + u'/' + lockFileName(devicePath);
}

qint64 lockFilePid(const QByteArray &text)
{
    const QList<QByteArray> words = text.simplified().split(' ');
    bool ok = false;
    const qint64 pid = words.value(0).toLongLong(&ok);
    return ok && pid > 0 ? pid : 0;
}

PortHolder findPortHolder(const QString &devicePath, qint64 ownPid, const SystemFolders &folders)
{
    const QString canonical = QFileInfo(devicePath).canonicalFilePath();
    const QString device = canonical.isEmpty() ? devicePath : canonical;
    const std::optional<FileId> target = fileId(device);
    const auto alive = [&folders](qint64 pid) {
        return QFileInfo(QStringLiteral("%1/%2").arg(folders.proc).arg(pid)).isDir();
    };
    // A lock file is anybody's to write: the process it names counts only when
    // it is seen to have the device open.
    PortHolder unheld;
    for (const QString &folder : folders.locks) {
        const QString lock = folder + u'/' + lockFileName(device);
        const qint64 pid = lockPid(lock);
        if (pid <= 0 || pid == ownPid || !alive(pid))
            continue;
        const Holds holds = target ? holdsFile(pid, *target, folders.proc) : Holds::Unknown;
        if (holds == Holds::Yes)
            return holder(pid, folders.proc);
        if (unheld.lockFile.isEmpty()) {
            unheld.lockFile = lock;
            unheld.lockPid = pid;
            unheld.lockName = holder(pid, folders.proc).name;
            unheld.lockUnseen = holds == Holds::Unknown;
        }
    }

    if (!target)
        return unheld;
    for (const qint64 pid : otherProcesses(ownPid, folders.proc)) {
        if (holdsFile(pid, *target, folders.proc) == Holds::Yes) {
            return holder(pid, folders.proc);
        }
    }
    return unheld;
}

PortHolder findPortSharer(const QString &devicePath, qint64 ownPid, const SystemFolders &folders)
{
    const QString canonical = QFileInfo(devicePath).canonicalFilePath();
    const std::optional<FileId> target = fileId(canonical.isEmpty() ? devicePath : canonical);
    if (!target)
        return {};
    static const QRegularExpression ptsPath(QStringLiteral("^/dev/pts/(\\d+)$"));
    const QRegularExpressionMatch pts = ptsPath.match(canonical);
    for (const qint64 pid : otherProcesses(ownPid, folders.proc)) {
        if (holdsFile(pid, *target, folders.proc) != Holds::Yes)
            continue;
        if (pts.hasMatch() && holdsPtyMaster(pid, pts.captured(1).toInt(), folders.proc))
            continue;
        return holder(pid, folders.proc);
    }
    return {};
}

} // namespace tarvik
