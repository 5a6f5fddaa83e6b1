// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// tarvik-dump as the tests start it: the built program as a process, each box
// a simulated boot loader on a pseudo-terminal served by the test's event loop.
#include "loadersim/loadersim.h"
#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QList>
#include <QSignalSpy>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <vector>

class QProcess;

// Simulated boxes, each reached through a link named after the box in the
// test's folder, and an output folder.
struct Bench {
    QTemporaryDir dir;
    QTemporaryDir out;
    std::vector<std::unique_ptr<tarvik::LoaderSim>> sims;
    std::vector<std::unique_ptr<QSignalSpy>> hostClosed;

    // A box serving `image` (the default one when empty) at dir/<name>.
    tarvik::LoaderSim &box(const QString &name, const QByteArray &image = QByteArray())
    {
        auto sim = std::make_unique<tarvik::LoaderSim>();
        sim->setImage(image.isEmpty() ? tarvik::LoaderSim::defaultImage() : image);
        if (!sim->open() || !QFile::link(sim->slavePath(), port(name)))
            qFatal("cannot set up the simulated box %s", qPrintable(name));
        hostClosed.push_back(std::make_unique<QSignalSpy>(sim.get(), &tarvik::LoaderSim::hostClosed));
        sims.push_back(std::move(sim));
        return *sims.back();
    }
    // Whether the box has seen its host close the device, so that every byte
    // the program sent has been taken in.
    bool hostGone(const tarvik::LoaderSim &sim)
    {
        for (size_t i = 0; i < sims.size(); ++i) {
            if (sims[i].get() == &sim)
                return hostClosed[i]->count() > 0 || hostClosed[i]->wait(5000);
        }
        return false;
    }
    QString port(const QString &name) const { return dir.filePath(name); }
    QString output(const QString &name) const { return out.filePath(name); }
    QStringList files() const { return withoutPartRecords(QDir(out.path()).entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot)); }
};

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
    QList<QJsonObject> json;
    bool finished = false;

    QJsonObject box(const QString &port) const
    {
        for (const QJsonObject &o : json) {
            if (o.value(QStringLiteral("port")).toString() == port)
                return o;
        }
        return {};
    }
};

// How the program is started: as the test's user, as an ordinary user, or
// with hang-ups ignored as nohup starts it.
enum class As { ThisUser, OrdinaryUser, HangUpIgnored };

struct TarvikDump {
    QString program;
    // An upper bound for a few 1 MiB reads on a loaded machine.
    static constexpr int RunMs = 120000;

    // Runs the program to its end while the boxes are served. `setUp` is
    // called before the process starts, `whileRunning` once it has started.
    Result run(const QStringList &arguments, const std::function<void(QProcess &)> &whileRunning = {},
               As as = As::ThisUser, const std::function<void(QProcess &)> &setUp = {}) const;
};
