// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDeadlineTimer>
#include <QTest>

// Waits as QTRY_VERIFY does, for helpers that give a result instead of
// failing the test: events are processed between looks, `stepMs` apart.
// True once `done` holds; false when it still does not after `timeoutMs`.
template<typename Predicate>
bool waitUntil(Predicate done, int timeoutMs = 60000, int stepMs = 20)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired())
        QTest::qWait(stepMs);
    return done();
}

