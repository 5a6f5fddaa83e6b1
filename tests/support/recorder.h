// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/session.h"

#include <QList>
#include <QStringList>

#include <functional>

// What a front end sees of a session, recorded: the log, the models, the
// progress, the message boxes that a front end shows after a run's end, and
// the ends of runs that the session reported. Close can be clicked while a
// message box is up (closeInMessage).
struct Recorder {
    explicit Recorder(tarvik::Session &session) : m_session(session)
    {
        using tarvik::Session;
        QObject::connect(&session, &Session::logReplaced, &session, [this](const QString &text) { setLog(text); });
        QObject::connect(&session, &Session::logAppended, &session, [this](const QString &text) { setLog(log + text); });
        QObject::connect(&session, &Session::modelReported, &session, [this](const QString &model) { models << model; });
        QObject::connect(&session, &Session::progressed, &session, [this](int blocksDone) { progress << blocksDone; });
        QObject::connect(&session, &Session::ended, &session, [this](const tarvik::RunReport &report) {
            reports << report;
            if (report.outcome != tarvik::DumpRun::Outcome::FileError)
                return;
            messages << QStringLiteral("Error: ") + report.text;
            if (closeInMessage)
                closePort();
        });
    }

    // The Close button.
    void closePort() { m_session.close(); }

    QString log;
    QStringList models;
    QList<int> progress;
    QStringList messages;
    QList<tarvik::RunReport> reports;
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
