// SPDX-License-Identifier: GPL-3.0-or-later
// The libFuzzer entry points: every input is one conversation, and a broken
// rule counts as a crash so that libFuzzer keeps the input.
#include "conversation.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QStringList problems = tarvik::fuzz::playConversation(data, size);
    if (problems.isEmpty())
        return 0;
    for (const QString &problem : problems)
        std::fprintf(stderr, "broken rule: %s\n", qPrintable(problem));
    std::abort();
}
