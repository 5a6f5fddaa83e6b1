// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session.h"

#include <QList>
#include <QStringList>

#include <functional>

// What a front end sees of a session, recorded: the log, the models, the
// progress and the message boxes, and how often the session was asked to
// close (by its run, or by closePort() as the Close button does).
struct Recorder {
    explicit Recorder(tarvik::Session &session) : m_session(session)
    {
        using tarvik::Session;
        QObject::connect(&session, &Session::logReplaced, &session, [this](const QString &text) { setLog(text); });
        QObject::connect(&session, &Session::logAppended, &session, [this](const QString &text) { setLog(log + text); });
        QObject::connect(&session, &Session::modelReported, &session, [this](const QString &model) { models << model; });
        QObject::connect(&session, &Session::progressed, &session, [this](int blocksDone) { progress << blocksDone; });
        QObject::connect(&session, &Session::message, &session, [this](const QString &text, const QString &title) {
            messages << title + QStringLiteral(": ") + text;
            // A message box runs the window's events: Close can be clicked meanwhile.
            if (closeInMessage)
                closePort();
        });
        QObject::connect(&session.run(), &tarvik::DumpRun::endRequested, &session, [this] { ++closeCalls; });
    }

    // The Close button.
    void closePort()
    {
        ++closeCalls;
        m_session.close();
    }

    QString log;
    QStringList models;
    QList<int> progress;
    QStringList messages;
    int closeCalls = 0;
    bool closeInMessage = false;
    // Called whenever the log changed.
    std::function<void()> onLogChanged;

private:
    void setLog(const QString &text)
    {
        log = text;
        if (onLogChanged)
            onLogChanged();
    }

    tarvik::Session &m_session;
};
