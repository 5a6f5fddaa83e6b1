// SPDX-License-Identifier: GPL-3.0-or-later
// Plays saved conversations without libFuzzer, so that any compiler can check
// the committed corpus (and a crash input that libFuzzer wrote).
//
//   tarvik-fuzz-replay FILE|FOLDER...
#include "conversation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList files;
    for (const QString &arg : app.arguments().mid(1)) {
        if (QFileInfo(arg).isDir()) {
            const QDir dir(arg);
            for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
                files << dir.filePath(name);
        } else {
            files << arg;
        }
    }
    if (files.isEmpty()) {
        std::fprintf(stderr, "usage: %s FILE|FOLDER...\n", argv[0]);
        return 2;
    }

    int failed = 0;
    for (const QString &path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(file.errorString()));
            ++failed;
            continue;
        }
        const QByteArray input = file.readAll();
        const QStringList problems = tarvik::fuzz::playConversation(
                reinterpret_cast<const uint8_t *>(input.constData()), size_t(input.size()));
        std::printf("%s %s\n", problems.isEmpty() ? "ok  " : "FAIL", qPrintable(path));
        for (const QString &problem : problems)
            std::printf("     %s\n", qPrintable(problem));
        failed += problems.isEmpty() ? 0 : 1;
    }
    std::printf("%lld conversations, %d failed\n", qlonglong(files.size()), failed);
    return failed == 0 ? 0 : 1;
}
