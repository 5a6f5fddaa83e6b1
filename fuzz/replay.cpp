// SPDX-License-Identifier: GPL-3.0-or-later
// Plays saved conversations without libFuzzer, so that any compiler can check
// the committed corpus (and a crash input that libFuzzer wrote).
//
//   tarvik-fuzz-replay [--repeat N] FILE|FOLDER...
//
// --repeat N plays the whole list N times in this one process, as a long
// fuzzing run does, and prints the RSS after the first, every tenfold (10,
// 100, ...) and the last round. It fails when the rounds after the first left
// anything behind: open descriptors, files or folders in the temporary
// folder (its own one, for this), or children of the application object.
#include "conversation.h"
#include "support/processstatus.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// What a conversation could leave behind in this process.
struct Leftovers {
    qsizetype descriptors = 0;
    qsizetype temporaries = 0;
    qsizetype children = 0;

    static Leftovers now()
    {
        const QDir temporary(QDir::tempPath());
        return {openDescriptors(),
                temporary.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).size(),
                QCoreApplication::instance()->children().size()};
    }
    QString exceeding(const Leftovers &before) const
    {
        QStringList more;
        if (descriptors > before.descriptors)
            more << QStringLiteral("%1 open descriptors").arg(descriptors - before.descriptors);
        if (temporaries > before.temporaries)
            more << QStringLiteral("%1 temporary files or folders").arg(temporaries - before.temporaries);
        if (children > before.children)
            more << QStringLiteral("%1 children of the application").arg(children - before.children);
        return more.join(QStringLiteral(", "));
    }
};

bool isPowerOfTen(int n)
{
    while (n % 10 == 0)
        n /= 10;
    return n == 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int rounds = 1;
    if (const qsizetype at = args.indexOf(QStringLiteral("--repeat")); at >= 0 && at + 1 < args.size()) {
        rounds = args.at(at + 1).toInt();
        args.remove(at, 2);
    }
    QStringList files;
    for (const QString &arg : std::as_const(args)) {
        if (QFileInfo(arg).isDir()) {
            const QDir dir(arg);
            for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
                files << dir.filePath(name);
        } else {
            files << arg;
        }
    }
    if (files.isEmpty() || rounds < 1) {
        std::fprintf(stderr, "usage: %s [--repeat N] FILE|FOLDER...\n", argv[0]);
        return 2;
    }

    QList<QByteArray> inputs;
    int failed = 0;
    for (const QString &path : std::as_const(files)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(file.errorString()));
            ++failed;
        }
        inputs << file.readAll();
    }

    // Its own temporary folder, so that other programs' files do not count.
    QTemporaryDir scratch;
    if (rounds > 1 && scratch.isValid())
        qputenv("TMPDIR", QFile::encodeName(scratch.path()));
    Leftovers afterFirst;
    for (int round = 1; round <= rounds; ++round) {
        for (qsizetype i = 0; i < files.size(); ++i) {
            const QByteArray &input = inputs.at(i);
            const QStringList problems = tarvik::fuzz::playConversation(
                    reinterpret_cast<const uint8_t *>(input.constData()), size_t(input.size()));
            // Every conversation once; a later round only when it fails there.
            if (round == 1 || !problems.isEmpty())
                std::printf("%s %s\n", problems.isEmpty() ? "ok  " : "FAIL", qPrintable(files.at(i)));
            for (const QString &problem : problems)
                std::printf("     %s\n", qPrintable(problem));
            failed += problems.isEmpty() ? 0 : 1;
        }
        if (rounds > 1 && (round == rounds || isPowerOfTen(round)))
            std::printf("after round %d: RSS %s\n", round, qPrintable(statusField("VmRSS")));
        if (round == 1)
            afterFirst = Leftovers::now();
    }
    if (rounds > 1) {
        if (const QString left = Leftovers::now().exceeding(afterFirst); !left.isEmpty()) {
            std::printf("rounds 2 to %d left behind: %s\n", rounds, qPrintable(left));
            ++failed;
        }
    }
    std::printf("%lld conversations, %d failed\n", qlonglong(files.size()) * rounds, failed);
    return failed == 0 ? 0 : 1;
}
