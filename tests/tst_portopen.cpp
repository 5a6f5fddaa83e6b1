// SPDX-License-Identifier: GPL-3.0-or-later
// Opening a port through tarvik-dump whatever the lock folder holds: every
// run ends when told to and leaves no lock file of its own behind. And an
// output folder on a pseudo file system is refused before the port is opened.
#include "dump/portinfo.h"
#include "loadersim/loadersim.h"
#include "support/clirun.h"
#include "support/ptypair.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const TarvikDump tarvikDump{QStringLiteral(TARVIK_DUMP)};
// A process id that no process has (above the kernel's highest).
const QByteArray DeadPid("  99999999\n");

bool writeNew(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && file.write(bytes) == bytes.size();
}

// Whether process `pid` has the file at `path` open.
bool holds(qint64 pid, const QString &path)
{
    struct stat target {};
    if (::stat(QFile::encodeName(path).constData(), &target) != 0)
        return false;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString &fd : fds.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        struct stat st {};
        if (::stat(QFile::encodeName(fds.filePath(fd)).constData(), &st) == 0 && st.st_rdev == target.st_rdev
            && S_ISCHR(st.st_mode))
            return true;
    }
    return false;
}

// The entries of the lock folder that name `pid`; each opened as the
// program opens them, without waiting on a FIFO that is swapped in.
QStringList locksOf(const QString &folder, qint64 pid)
{
    QStringList found;
    const QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        const int fd = ::open(QFile::encodeName(dir.filePath(name)).constData(),
                              O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st {};
        char text[64];
        const ssize_t n = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? ::read(fd, text, sizeof text) : 0;
        ::close(fd);
        if (n > 0 && tarvik::lockFilePid(QByteArray(text, int(n))) == pid)
            found << name;
    }
    return found;
}

// Another process that swaps two names of a folder with each other as fast as
// it can (rename with exchange), making a missing one again as a stale lock.
class Swapper
{
public:
    Swapper(const QString &folder, const QString &a, const QString &b)
    {
        const QByteArray dir = QFile::encodeName(folder);
        const QByteArray first = QFile::encodeName(a);
        const QByteArray second = QFile::encodeName(b);
        m_pid = ::fork();
        if (m_pid != 0)
            return;
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int dirFd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY);
        for (;;) {
            if (::renameat2(dirFd, first.constData(), dirFd, second.constData(), RENAME_EXCHANGE) == 0
                || errno != ENOENT)
                continue;
            for (const QByteArray *name : {&first, &second}) {
                const int fd = ::openat(dirFd, name->constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
                if (fd >= 0) {
                    [[maybe_unused]] const ssize_t n = ::write(fd, DeadPid.constData(), size_t(DeadPid.size()));
                    ::close(fd);
                }
            }
        }
    }
    ~Swapper()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool isRunning() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One run on the silent port `pty` with `folder` as the lock folder, told to
// end with SIGTERM once it has opened the port (it then waits for a box that
// never answers) or has given up on it. False when it did not end; else its
// exit code and the entries it left in the folder that name it.
bool runOn(const PtyPair &pty, const QString &folder, int *exitCode, QStringList *leftBehind)
{
    QTemporaryDir out;
    if (!out.isValid())
        return false;
    qint64 pid = 0;
    const Result r = tarvikDump.run(
            {"-p", pty.slavePath(), "-o", out.path(), "--quiet"},
            [&](QProcess &process) {
                pid = process.processId();
                QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning || holds(pid, pty.slavePath()),
                                         TarvikDump::RunMs);
                ::kill(pid_t(pid), SIGTERM);
            },
            As::ThisUser,
            [&folder](QProcess &process) {
                QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
                environment.insert(QStringLiteral("TARVIK_LOCK_FOLDER"), folder);
                process.setProcessEnvironment(environment);
            });
    *exitCode = r.exitCode;
    *leftBehind = locksOf(folder, pid);
    return r.finished;
}

} // namespace

class TestPortOpen : public QObject
{
    Q_OBJECT
private slots:
    void lockFolder_data();
    void lockFolder();
    void swappedLockTwentyRuns();
    void pseudoFolderRefused_data();
    void pseudoFolderRefused();
};

void TestPortOpen::lockFolder_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QList<int>>("exitCodes"); // 1: the port was refused, 130: it opened and was interrupted

    QTest::newRow("FIFO") << "fifo" << QList<int>{1};
    QTest::newRow("link") << "link" << QList<int>{1};
    QTest::newRow("folder") << "folder" << QList<int>{1};
    QTest::newRow("stale lock") << "stale" << QList<int>{130};
    QTest::newRow("live lock of another process") << "live" << QList<int>{1};
    QTest::newRow("FIFO swapped in and out") << "swapped" << QList<int>{1, 130};
}

// Whatever stands at the lock's name, nothing in the lock folder is waited
// on: the run ends when told, and what is there that is not ours stays.
void TestPortOpen::lockFolder()
{
    QFETCH(QString, state);
    QFETCH(QList<int>, exitCodes);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    PtyPair pty;
    QVERIFY(pty.isValid());
    const QString victim = folder.filePath(QStringLiteral("victim"));
    QVERIFY(writeNew(victim, "4242\n"));
    // Named after the device's real path, as the run names it.
    const QString lock = folder.filePath(tarvik::lockFileName(QFileInfo(pty.slavePath()).canonicalFilePath()));
    const QByteArray lockPath = QFile::encodeName(lock);
    std::unique_ptr<Swapper> swapper;
    if (state == u"fifo") {
        QCOMPARE(::mkfifo(lockPath.constData(), 0644), 0);
    } else if (state == u"link") {
        QVERIFY(QFile::link(victim, lock));
    } else if (state == u"folder") {
        QVERIFY(QDir().mkdir(lock));
    } else if (state == u"stale") {
        QVERIFY(writeNew(lock, DeadPid));
    } else if (state == u"live") {
        QVERIFY(writeNew(lock, QByteArray::number(qint64(::getpid())).rightJustified(10, ' ') + '\n'));
    } else {
        const QString other = folder.filePath(QStringLiteral("swap"));
        QCOMPARE(::mkfifo(QFile::encodeName(other).constData(), 0644), 0);
        QVERIFY(writeNew(lock, DeadPid));
        swapper = std::make_unique<Swapper>(folder.path(), lock, other);
        QVERIFY(swapper->isRunning());
    }

    int exitCode = -1;
    QStringList leftBehind;
    QVERIFY(runOn(pty, folder.path(), &exitCode, &leftBehind));
    QVERIFY2(exitCodes.contains(exitCode), qPrintable(QString::number(exitCode)));
    QCOMPARE(leftBehind, QStringList());
    swapper.reset();

    // What was there and not ours stays as it was.
    struct stat st {};
    if (state == u"fifo")
        QVERIFY(::lstat(lockPath.constData(), &st) == 0 && S_ISFIFO(st.st_mode));
    else if (state == u"link")
        QVERIFY(::lstat(lockPath.constData(), &st) == 0 && S_ISLNK(st.st_mode));
    else if (state == u"folder")
        QVERIFY(QFileInfo(lock).isDir());
    else if (state == u"live")
        QCOMPARE(tarvik::lockFilePid(readAll(lock)), qint64(::getpid()));
    else if (state == u"stale")
        QVERIFY(::lstat(lockPath.constData(), &st) != 0);
    QCOMPARE(readAll(victim), QByteArray("4242\n"));
}

// With the names swapped all the time, run after run ends when told.
void TestPortOpen::swappedLockTwentyRuns()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    PtyPair pty;
    QVERIFY(pty.isValid());
    const QString lock = folder.filePath(tarvik::lockFileName(QFileInfo(pty.slavePath()).canonicalFilePath()));
    const QString other = folder.filePath(QStringLiteral("swap"));
    QCOMPARE(::mkfifo(QFile::encodeName(other).constData(), 0644), 0);
    QVERIFY(writeNew(lock, DeadPid));
    Swapper swapper(folder.path(), lock, other);
    QVERIFY(swapper.isRunning());
    QList<int> exitCodes;
    for (int run = 0; run < 20; ++run) {
        int exitCode = -1;
        QStringList leftBehind;
        QVERIFY2(runOn(pty, folder.path(), &exitCode, &leftBehind), qPrintable(QStringLiteral("run %1").arg(run)));
        QVERIFY2(exitCode == 1 || exitCode == 130, qPrintable(QStringLiteral("run %1: %2").arg(run).arg(exitCode)));
        QVERIFY2(leftBehind.isEmpty(), qPrintable(QStringLiteral("run %1: %2").arg(run).arg(leftBehind.join(u' '))));
    }
}

void TestPortOpen::pseudoFolderRefused_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("type");
    QTest::newRow("/proc") << "/proc" << "proc";
    QTest::newRow("/sys") << "/sys" << "sysfs";
}

// Such a folder is refused as a missing one is, before the box is asked anything.
void TestPortOpen::pseudoFolderRefused()
{
    QFETCH(QString, folder);
    QFETCH(QString, type);
    Bench bench;
    tarvik::LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    const Result r = tarvikDump.run({"-p", bench.port(QStringLiteral("boxA")), "-o", folder});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(QStringLiteral("The output folder %1 is on %2, ").arg(folder, type)), qPrintable(r.err));
    QVERIFY(sim.received().isEmpty());
}

QTEST_GUILESS_MAIN(TestPortOpen)
#include "tst_portopen.moc"
