// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/dumpfile.h"
#include "support/faultyfile.h"
#include "support/files.h"
#include "support/firstblock.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using tarvik::DumpFile;
namespace DumpName = tarvik::DumpName;

namespace {

QByteArray blockReply(char fill, char check)
{
    QByteArray reply(DumpFile::BlockSize, fill);
    reply.append(check);
    return reply;
}

// The time an earlier dump was written, as its kept name gives it.
const QDateTime EarlierTime(QDate(2026, 1, 2), QTime(3, 4, 5));

// One whole run of one block into `folder`, committed.
bool dumpOnce(DumpFile &file, const QString &folder, const QByteArray &block)
{
    return file.begin(tarvik::OutputFolder::open(folder), 0, 1024, false, DumpName::modelText(block), block) && file.appendBlock(block)
           && file.commit();
}

} // namespace

class TestDumpFile : public QObject
{
    Q_OBJECT
private slots:
    void partRecord();
    void unsafeModelNames_data();
    void unsafeModelNames();
    void longModelNames_data();
    void longModelNames();
    void writesHeaderAndBlocks_data();
    void writesHeaderAndBlocks();
    void cutsStaleTail_data();
    void cutsStaleTail();
    void eachBlockReachesTheSystem();
    void writeFailures_data();
    void writeFailures();
    void missingFolder();
    void commitBeforeSuccess();
    void earlierDumpSurvives();
    void renameFails();
    void oneWriterAtATime();
    void closeAndReset();
    void plantedPart_data();
    void plantedPart();
    void keepsEarlierDump_data();
    void keepsEarlierDump();
    void partReplacedBeforeCommit();
    void nameTagFits();
};

void TestDumpFile::unsafeModelNames_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("part");
    QTest::addColumn<QString>("stem"); // of the dump file: the part, or that of no model name

    const QString none = QStringLiteral("FlashDump");
    QTest::newRow("slash") << QStringLiteral("../../etc/x") << QStringLiteral("___.._etc_x") << QStringLiteral("___.._etc_x");
    QTest::newRow("dot") << QStringLiteral(".") << QStringLiteral("_") << QStringLiteral("_");
    QTest::newRow("dot dot") << QStringLiteral("..") << QStringLiteral("__") << QStringLiteral("__");
    QTest::newRow("three dots") << QStringLiteral("...") << QStringLiteral("___") << QStringLiteral("___");
    QTest::newRow("hidden") << QStringLiteral(".hidden") << QStringLiteral("_hidden") << QStringLiteral("_hidden");
    QTest::newRow("dots inside stay") << QStringLiteral("a..b.") << QStringLiteral("a..b.") << QStringLiteral("a..b.");
    QTest::newRow("empty") << QString() << none << none;
    QTest::newRow("NUL") << QString(QChar(0)) << QStringLiteral("_") << none;
    QTest::newRow("C0 controls") << QString::fromLatin1("a\x01\x09\x0A\x1F" "b")
                                 << QStringLiteral("a____b") << none;
    QTest::newRow("DEL") << QString::fromLatin1("a\x7F" "b") << QStringLiteral("a_b") << none;
    QTest::newRow("C1 controls") << QString::fromLatin1("\x80\x9F") << QStringLiteral("__") << none;
    QTest::newRow("Latin-1 letters") << QString::fromLatin1("\xA0\xE9\xFF")
                                     << QString::fromLatin1("\xA0\xE9\xFF") << none;
    QTest::newRow("backslash and space stay") << QStringLiteral("a\\ b") << QStringLiteral("a\\ b")
                                              << QStringLiteral("a\\ b");
}

void TestDumpFile::unsafeModelNames()
{
    QFETCH(QString, model);
    QFETCH(QString, part);
    QFETCH(QString, stem);
    QCOMPARE(DumpName::safeNamePart(model), part);

    // The file lands in the chosen folder, under the safe name.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.path() + u'/';
    DumpFile file;
    QVERIFY2(file.begin(tarvik::OutputFolder::open(folder), 0, 1024, false, model, firstBlock("x")),
             qPrintable(file.errorMessage()));
    file.close();
    QCOMPARE(file.name(), stem + QStringLiteral(".bin"));
    QCOMPARE(QFileInfo(file.path()).absolutePath(), dir.path());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{stem + QStringLiteral(".bin.part"), stem + QStringLiteral(".bin.part.state")}));
}

void TestDumpFile::longModelNames_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QString>("name");

    const QString longest(DumpName::MaxModelChars, u'A');
    const QString conv = QStringLiteral("_HW01.02.0A_SW03.10.FF_conv.bin");
    QTest::newRow("longest model") << longest << false << longest + ".bin";
    QTest::newRow("longest model, header") << longest << true << longest + conv;
    // Longer text is no model name: the name of a box without one.
    const QString ascii(DumpFile::BlockSize - 8, u'A');
    QTest::newRow("a block of text") << ascii << false << QStringLiteral("FlashDump.bin");
    QTest::newRow("a block of text, header") << ascii << true << "FlashDump" + conv;
}

void TestDumpFile::longModelNames()
{
    QFETCH(QString, model);
    QFETCH(bool, ticked);
    QFETCH(QString, name);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    DumpFile file;
    QVERIFY2(file.begin(tarvik::OutputFolder::open(dir.path() + u'/'), 0, 1024, ticked, model, firstBlock("x")),
             qPrintable(file.errorMessage()));
    QCOMPARE(file.name(), name);
    // The names the file is received under, and its record, fit too.
    const qsizetype bytes =
            QFile::encodeName(QFileInfo(file.partPath()).fileName() + tarvik::PartRecord::Suffix).size();
    QVERIFY(bytes <= DumpName::MaxNameBytes);
    // The header still carries the whole text.
    if (ticked)
        QVERIFY(file.header().contains(model));
}

void TestDumpFile::writesHeaderAndBlocks_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QByteArray>("header");

    QTest::newRow("full, header") << 0 << 1024 << true
                                  << QByteArray("KAON0008B901020A0310FF0000000000CABCx");
    QTest::newRow("full, no header") << 0 << 1024 << false << QByteArray();
    QTest::newRow("partial, ticked") << 3 << 2 << true << QByteArray();
}

void TestDumpFile::writesHeaderAndBlocks()
{
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(bool, ticked);
    QFETCH(QByteArray, header);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    DumpFile file;
    const QByteArray first = firstBlock("ABC");
    QVERIFY(file.begin(tarvik::OutputFolder::open(dir.path() + u'/'), qint16(start), qint16(count), ticked, "ABC", first));
    QVERIFY(file.isOpen());
    QVERIFY(file.appendBlock(first));
    QVERIFY(file.appendBlock(blockReply('\x11', '\x77')));
    file.close();
    QVERIFY(!file.isOpen());

    const QByteArray expected = header + first.left(DumpFile::BlockSize)
                                + QByteArray(DumpFile::BlockSize, '\x11');
    QCOMPARE(readFile(file.partPath()), expected);
    QCOMPARE(file.size(), expected.size());
    QCOMPARE(file.sha256(), QCryptographicHash::hash(expected, QCryptographicHash::Sha256));
}

void TestDumpFile::cutsStaleTail_data()
{
    QTest::addColumn<int>("oldSize"); // -1: no file of that name yet

    QTest::newRow("no older file") << -1;
    QTest::newRow("older, longer file") << 5 * DumpFile::BlockSize + 7;
    QTest::newRow("older, shorter file") << 100;
    QTest::newRow("older, empty file") << 0;
}

void TestDumpFile::cutsStaleTail()
{
    QFETCH(int, oldSize);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("FlashDump.bin.part"));
    if (oldSize >= 0) {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        QCOMPARE(old.write(QByteArray(oldSize, '\xEE')), qint64(oldSize));
    }
    DumpFile file;
    QVERIFY(file.begin(tarvik::OutputFolder::open(dir.path() + u'/'), 5, 2, false, QString(), firstBlock("x")));
    QVERIFY(file.appendBlock(blockReply('\x01', '\x00')));
    QVERIFY(file.appendBlock(blockReply('\x02', '\x00')));
    file.close();
    QCOMPARE(readFile(path),
             QByteArray(DumpFile::BlockSize, '\x01') + QByteArray(DumpFile::BlockSize, '\x02'));
}

void TestDumpFile::eachBlockReachesTheSystem()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    DumpFile file;
    QVERIFY(file.begin(tarvik::OutputFolder::open(dir.path() + u'/'), 0, 4, false, QString(), firstBlock("x")));
    QVERIFY(file.appendBlock(blockReply('\x42', '\x00')));
    // Still open: another reader sees the block already.
    QCOMPARE(readFile(file.partPath()), QByteArray(DumpFile::BlockSize, '\x42'));
}

void TestDumpFile::writeFailures_data()
{
    QTest::addColumn<bool>("refuseOpen");
    QTest::addColumn<qint64>("room");
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<int>("failingStep"); // 0 begin, 1 first block, 2 second block
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("reason");

    const int create = int(DumpFile::Error::CannotCreate);
    const int write = int(DumpFile::Error::CannotWrite);
    QTest::newRow("cannot open") << true << qint64(1 << 20) << false << 0 << create
                                 << "Permission denied";
    QTest::newRow("full during header") << false << qint64(10) << true << 0 << write
                                        << "No space left on device";
    QTest::newRow("full at first block") << false << qint64(0) << false << 1 << write
                                         << "No space left on device";
    QTest::newRow("full in second block") << false << qint64(1500) << false << 2 << write
                                          << "No space left on device";
}

void TestDumpFile::writeFailures()
{
    QFETCH(bool, refuseOpen);
    QFETCH(qint64, room);
    QFETCH(bool, ticked);
    QFETCH(int, failingStep);
    QFETCH(int, error);
    QFETCH(QString, reason);

    const auto record = std::make_shared<FileRecord>();
    DumpFile file;
    file.setOpener(memoryFileOpener({room, refuseOpen}, record));

    const QByteArray first = firstBlock("ABC");
    bool ok = file.begin(tarvik::OutputFolder::open(QStringLiteral("/media/stick/")), 0, 1024, ticked, "ABC", first);
    QCOMPARE(ok, failingStep != 0);
    if (ok) {
        ok = file.appendBlock(first);
        QCOMPARE(ok, failingStep != 1);
    }
    if (ok)
        QVERIFY(!file.appendBlock(first));

    const QString openedPath = record->path;
    QCOMPARE(openedPath, QStringLiteral("/media/stick/") + file.name() + QStringLiteral(".part"));
    QCOMPARE(int(file.error()), error);
    QCOMPARE(file.errorString(), reason);
    QVERIFY(file.errorMessage().contains(openedPath));
    QVERIFY(file.errorMessage().contains(reason));
    QCOMPARE(record->data.size(), refuseOpen ? 0 : room);
}

void TestDumpFile::missingFolder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("gone")) + u'/';
    DumpFile file;
    QVERIFY(!file.begin(tarvik::OutputFolder::open(folder), 0, 1024, false, QStringLiteral("ABC"), firstBlock("ABC")));
    QVERIFY(!file.isOpen());
    QCOMPARE(file.error(), DumpFile::Error::CannotCreate);
    QCOMPARE(file.path(), folder + QStringLiteral("ABC.bin"));
    QVERIFY2(file.errorMessage().contains(file.partPath()), qPrintable(file.errorMessage()));
    QVERIFY2(file.errorMessage().contains(QStringLiteral("No such file or directory")),
             qPrintable(file.errorMessage()));
}

// The last word before a run reports success: still on disk, synced, and
// under its own name in place of an earlier dump.
void TestDumpFile::commitBeforeSuccess()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(folder));
    const QByteArray earlierBytes(3 * DumpFile::BlockSize, '\xEE');
    QVERIFY(writeFile(folder + QStringLiteral("/ABC.bin"), earlierBytes, EarlierTime));

    DumpFile file;
    const QByteArray first = firstBlock("ABC");
    QVERIFY(file.begin(tarvik::OutputFolder::open(folder + u'/'), 0, 1024, false, QStringLiteral("ABC"), first));
    QVERIFY(file.appendBlock(first));
    QVERIFY(file.commit());
    QCOMPARE(file.error(), DumpFile::Error::None);
    QVERIFY(file.isCommitted());
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"ABC.2026-01-02_030405.bin", "ABC.bin"}));
    QCOMPARE(readFile(file.path()), first.left(DumpFile::BlockSize));
    QCOMPARE(file.previousKeptAs(), folder + QStringLiteral("/ABC.2026-01-02_030405.bin"));
    QCOMPARE(readFile(file.previousKeptAs()), earlierBytes);

    QVERIFY(file.begin(tarvik::OutputFolder::open(folder + u'/'), 0, 1024, false, QStringLiteral("ABC"), first));
    QVERIFY(file.appendBlock(first));
    QVERIFY(QDir(folder).removeRecursively());
    QVERIFY(!file.commit());
    QCOMPARE(file.error(), DumpFile::Error::CannotWrite);
    QVERIFY2(file.errorMessage().contains(QStringLiteral("No such file or directory")),
             qPrintable(file.errorMessage()));
}

// A run that is not committed leaves an earlier dump of its name as it was.
void TestDumpFile::earlierDumpSurvives()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray earlier(2 * DumpFile::BlockSize, '\xEE');
    QFile old(dir.filePath(QStringLiteral("ABC.bin")));
    QVERIFY(old.open(QIODevice::WriteOnly));
    QCOMPARE(old.write(earlier), qint64(earlier.size()));
    old.close();

    DumpFile file;
    const QByteArray first = firstBlock("ABC");
    QVERIFY(file.begin(tarvik::OutputFolder::open(dir.path()), 0, 1024, false, QStringLiteral("ABC"), first));
    QVERIFY(file.appendBlock(first));
    QVERIFY(file.sync());
    file.close();
    QVERIFY(!file.isCommitted());
    QCOMPARE(readFile(file.path()), earlier);
    QCOMPARE(readFile(file.partPath()), first.left(DumpFile::BlockSize));
}

// The dump cannot take its name: the error names both paths and the
// system's reason, and everything received stays.
void TestDumpFile::renameFails()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("ABC.bin/inside")));

    DumpFile file;
    const QByteArray first = firstBlock("ABC");
    QVERIFY(file.begin(tarvik::OutputFolder::open(dir.path() + u'/'), 0, 1024, false, QStringLiteral("ABC"), first));
    QVERIFY(file.appendBlock(first));
    QVERIFY(!file.commit());
    QCOMPARE(file.error(), DumpFile::Error::CannotRename);
    QVERIFY(!file.isCommitted());
    const QString message = file.errorMessage();
    QVERIFY2(message.contains(file.path() + u':'), qPrintable(message));
    QVERIFY2(message.contains(file.partPath()), qPrintable(message));
    QVERIFY2(message.contains(file.errorString()) && !file.errorString().isEmpty(), qPrintable(message));
    file.close();
    QCOMPARE(readFile(file.partPath()), first.left(DumpFile::BlockSize));
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("ABC.bin/inside"))).isDir());
}

// Two runs of one name, in one process or two, never write one file: the
// second is refused and the first one's bytes are not touched.
void TestDumpFile::oneWriterAtATime()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray first = firstBlock("ABC");
    DumpFile writing;
    QVERIFY(writing.begin(tarvik::OutputFolder::open(dir.path()), 0, 1024, false, QStringLiteral("ABC"), first));
    QVERIFY(writing.appendBlock(first));

    DumpFile second;
    QVERIFY(!second.begin(tarvik::OutputFolder::open(dir.path()), 0, 1024, false, QStringLiteral("ABC"), first));
    QVERIFY(!second.isOpen());
    QCOMPARE(second.error(), DumpFile::Error::InUse);
    QVERIFY2(second.errorMessage().contains(second.partPath()), qPrintable(second.errorMessage()));
    QVERIFY2(second.errorMessage().contains(QStringLiteral("another Tarvik")),
             qPrintable(second.errorMessage()));
    QCOMPARE(readFile(writing.partPath()), first.left(DumpFile::BlockSize));

    // Once the first has closed its file, the name is free again.
    writing.close();
    QVERIFY2(second.begin(tarvik::OutputFolder::open(dir.path()), 0, 1024, false, QStringLiteral("ABC"), first),
             qPrintable(second.errorMessage()));
    QCOMPARE(readFile(second.partPath()), QByteArray());
}

void TestDumpFile::closeAndReset()
{
    DumpFile file;
    file.close(); // nothing open: nothing happens
    QVERIFY(!file.isOpen());

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(file.begin(tarvik::OutputFolder::open(dir.path() + u'/'), 0, 1024, true, "ABC", firstBlock("ABC")));
    const QString header = file.header();
    file.reset();
    QVERIFY(!file.isOpen());
    QVERIFY(file.name().isEmpty());
    // The header text lives on until the next full read with the header.
    QCOMPARE(file.header(), header);
}

void TestDumpFile::plantedPart_data()
{
    QTest::addColumn<QString>("planted");
    QTest::addColumn<QString>("what");

    QTest::newRow("link to a file") << "link" << "a symbolic link";
    QTest::newRow("dangling link") << "dangling" << "a symbolic link";
    QTest::newRow("link to the earlier dump") << "link to dump" << "a symbolic link";
    QTest::newRow("link to /dev/null") << "link to null" << "a symbolic link";
    QTest::newRow("FIFO without a reader") << "fifo" << "a FIFO";
    QTest::newRow("FIFO with a reader") << "fifo read" << "a FIFO";
    QTest::newRow("hard link") << "hard link" << "a file with more than one name (a hard link)";
    QTest::newRow("folder") << "folder" << "a folder";
    QTest::newRow("another user's file") << "other user" << "another user's file";
}

// Whatever is planted where the dump is received is neither written through,
// cut, nor waited on: the run is refused before a byte is written, with what
// is in the way and what to do.
void TestDumpFile::plantedPart()
{
    QFETCH(QString, planted);
    QFETCH(QString, what);

    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    QVERIFY(dir.isValid() && elsewhere.isValid());
    const QString part = dir.filePath(QStringLiteral("ABC.bin.part"));
    const QString victim = elsewhere.filePath(QStringLiteral("victim"));
    const QByteArray precious("precious");
    QVERIFY(writeFile(victim, precious));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("ABC.bin")), precious));
    const QByteArray partPath = QFile::encodeName(part);
    int reader = -1;
    if (planted == "link") {
        QVERIFY(QFile::link(victim, part));
    } else if (planted == "dangling") {
        QVERIFY(QFile::link(elsewhere.filePath(QStringLiteral("created")), part));
    } else if (planted == "link to dump") {
        QVERIFY(QFile::link(QStringLiteral("ABC.bin"), part));
    } else if (planted == "link to null") {
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), part));
    } else if (planted.startsWith("fifo")) {
        QCOMPARE(::mkfifo(partPath.constData(), 0600), 0);
        if (planted == "fifo read")
            QVERIFY((reader = ::open(partPath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) >= 0);
    } else if (planted == "hard link") {
        QCOMPARE(::link(QFile::encodeName(victim).constData(), partPath.constData()), 0);
    } else if (planted == "folder") {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("ABC.bin.part")));
    } else if (planted == "other user") {
        QVERIFY(writeFile(part, precious));
        if (::geteuid() != 0)
            QSKIP("only root can give a file to another user here; tst_cli plants one for an ordinary user");
        QCOMPARE(::chown(partPath.constData(), 65534, 65534), 0);
    }
    const auto closeReader = qScopeGuard([reader] {
        if (reader >= 0)
            ::close(reader);
    });

    DumpFile file;
    const QByteArray first = firstBlock("ABC");
    QVERIFY(!file.begin(tarvik::OutputFolder::open(dir.path()), 0, 1024, false, QStringLiteral("ABC"), first));
    QVERIFY(!file.isOpen());
    QVERIFY(!file.hasFile());
    QCOMPARE(file.error(), DumpFile::Error::InTheWay);
    QCOMPARE(file.errorMessage(), part + QStringLiteral(" is ") + what
                                      + QStringLiteral(": remove it, or choose another folder."));
    QCOMPARE(readFile(victim), precious);
    QCOMPARE(readFile(dir.filePath(QStringLiteral("ABC.bin"))), precious);
    QVERIFY(!QFileInfo::exists(elsewhere.filePath(QStringLiteral("created"))));
    if (reader >= 0) {
        char c;
        QCOMPARE(::read(reader, &c, 1), ssize_t(0)); // nothing came through
    }
    if (planted == "other user")
        QCOMPARE(readFile(part), precious);
}

void TestDumpFile::keepsEarlierDump_data()
{
    QTest::addColumn<QString>("earlier");
    QTest::addColumn<QStringList>("entries"); // after the new dump took ABC.bin

    const QStringList dated{"ABC.2026-01-02_030405.bin", "ABC.bin"};
    QTest::newRow("other bytes") << "other" << dated;
    QTest::newRow("other bytes, dated name taken")
        << "other taken" << QStringList{"ABC.2026-01-02_030405-2.bin", "ABC.2026-01-02_030405.bin", "ABC.bin"};
    QTest::newRow("the same bytes") << "same" << QStringList{"ABC.bin"};
    QTest::newRow("longer, same start") << "longer" << dated;
    QTest::newRow("a link in its place") << "link" << QStringList{"ABC.bin"};
}

// A good dump takes its name, and an earlier dump of that name with other
// bytes is kept beside it; nothing is overwritten on the way.
void TestDumpFile::keepsEarlierDump()
{
    QFETCH(QString, earlier);
    QFETCH(QStringList, entries);

    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    QVERIFY(dir.isValid() && elsewhere.isValid());
    const QByteArray block = firstBlock("ABC");
    const QByteArray data = block.left(DumpFile::BlockSize);
    QByteArray earlierBytes = earlier == "same" ? data : earlier == "longer" ? data + data : QByteArray(100, 'E');
    const QString name = dir.filePath(QStringLiteral("ABC.bin"));
    const QString target = elsewhere.filePath(QStringLiteral("target"));
    if (earlier == "link") {
        QVERIFY(writeFile(target, earlierBytes));
        QVERIFY(QFile::link(target, name));
    } else {
        QVERIFY(writeFile(name, earlierBytes, EarlierTime));
    }
    const QByteArray taken("already there");
    if (earlier == "other taken")
        QVERIFY(writeFile(dir.filePath(QStringLiteral("ABC.2026-01-02_030405.bin")), taken));

    DumpFile file;
    QVERIFY2(dumpOnce(file, dir.path(), block), qPrintable(file.errorMessage()));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             entries);
    QCOMPARE(readFile(name), data);
    QVERIFY(!QFileInfo(name).isSymLink());
    // The entries are sorted: the kept name comes first.
    if (entries.size() > 1) {
        QCOMPARE(file.previousKeptAs(), dir.filePath(entries.first()));
        QCOMPARE(readFile(file.previousKeptAs()), earlierBytes);
    } else {
        QCOMPARE(file.previousKeptAs(), QString());
    }
    if (earlier == "other taken")
        QCOMPARE(readFile(dir.filePath(QStringLiteral("ABC.2026-01-02_030405.bin"))), taken);
    if (earlier == "link")
        QCOMPARE(readFile(target), earlierBytes);
}

// Only the file that the run wrote takes the dump's name: a .part that was
// swapped for another file on the way stays where it is.
void TestDumpFile::partReplacedBeforeCommit()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    DumpFile file;
    const QByteArray block = firstBlock("ABC");
    QVERIFY(file.begin(tarvik::OutputFolder::open(dir.path()), 0, 1024, false, QStringLiteral("ABC"), block));
    QVERIFY(file.appendBlock(block));
    QVERIFY(QFile::rename(file.partPath(), dir.filePath(QStringLiteral("moved"))));
    QVERIFY(writeFile(file.partPath(), "swapped"));

    QVERIFY(!file.commit());
    QCOMPARE(file.error(), DumpFile::Error::CannotRename);
    QVERIFY2(file.errorMessage().contains(QStringLiteral("is no longer the file this run wrote")),
             qPrintable(file.errorMessage()));
    QVERIFY(!QFileInfo::exists(file.path()));
    QCOMPARE(readFile(file.partPath()), QByteArray("swapped"));
}

// A tag that keeps two boxes apart (a device's name, however long) stays in
// the name: the model gives way so that the whole name fits.
void TestDumpFile::nameTagFits()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString model(DumpName::MaxModelChars, u'A');
    DumpFile file;
    const QString tag = u'_' + QString(200, u't');
    file.setNameTag([tag](const QString &) { return tag; });
    QVERIFY2(file.begin(tarvik::OutputFolder::open(dir.path()), 0, 1024, false, model, firstBlock("x")), qPrintable(file.errorMessage()));
    QCOMPARE(file.name(), model.left(39) + tag + QStringLiteral(".bin"));
    QCOMPARE(QFile::encodeName(QFileInfo(file.partPath()).fileName() + tarvik::PartRecord::Suffix).size(),
             DumpName::MaxNameBytes);
}

// The record beside a stopped dump: what the box said is one line of text in
// it, whatever bytes it sent, and it reads back as written; a stopped file
// keeps it, the dump's own name removes it.
void TestDumpFile::partRecord()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString model = QStringLiteral("EVIL\nstart=7\rcount=9\x1b[2J");
    DumpFile file;
    file.setDevice(QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/serial/by-id/usb-A\n"));
    QVERIFY2(file.begin(tarvik::OutputFolder::open(dir.path()), 5, 20, false, model, firstBlock("x")), qPrintable(file.errorMessage()));
    QVERIFY(file.appendBlock(QByteArray(1025, 'a')));
    QVERIFY(file.appendBlock(QByteArray(1025, 'b')));
    QVERIFY(file.appendBlock(QByteArray(300, 'c')));
    file.close(QStringLiteral("timeout"));

    const tarvik::PartRecordRead read = tarvik::readPartRecord(tarvik::OutputFolder::open(QFileInfo(file.partPath()).path()).fd(), QFileInfo(file.partPath()).fileName(), file.partPath());
    QVERIFY2(read.ok, qPrintable(read.error));
    QCOMPARE(read.record.startBlock, qint16(5));
    QCOMPARE(read.record.blockCount, qint16(20));
    QCOMPARE(read.record.header, false);
    QCOMPARE(read.record.model, QStringLiteral("EVIL?start=7?count=9?[2J"));
    QCOMPARE(read.record.device, QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(read.record.deviceId, QStringLiteral("/dev/serial/by-id/usb-A?"));
    QCOMPARE(read.record.wholeBlocks, 2);
    QCOMPARE(read.record.stoppedBy, QStringLiteral("timeout"));
    QVERIFY(read.record.mayContinue());
    const QByteArray text = readFile(tarvik::partRecordPath(file.partPath()));
    QVERIFY(text.contains("\nstart=5\ncount=20\n"));
    QVERIFY(!text.contains("\nstart=7"));

    QVERIFY2(file.begin(tarvik::OutputFolder::open(dir.path()), 5, 2, false, QStringLiteral("M"), firstBlock("x")),
             qPrintable(file.errorMessage()));
    QVERIFY(file.appendBlock(QByteArray(1025, 'a')));
    QVERIFY(file.appendBlock(QByteArray(1025, 'b')));
    QVERIFY(file.commit());
    file.close();
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("FlashDump.bin")});

    // A link planted at the record's name is neither followed nor replaced.
    const QString victim = dir.filePath(QStringLiteral("victim"));
    QVERIFY(writeFile(victim, "precious"));
    const QString record = dir.filePath(QStringLiteral("FlashDump.bin.part.state"));
    QVERIFY(QFile::link(victim, record));
    QVERIFY(!file.begin(tarvik::OutputFolder::open(dir.path()), 5, 2, false, QStringLiteral("M"), firstBlock("x")));
    QVERIFY2(file.errorMessage().contains(QStringLiteral("FlashDump.bin.part.state is a symbolic link")),
             qPrintable(file.errorMessage()));
    file.close();
    QVERIFY(QFileInfo(record).isSymLink());
    QCOMPARE(readFile(victim), QByteArray("precious"));
}

QTEST_GUILESS_MAIN(TestDumpFile)
#include "tst_dumpfile.moc"
