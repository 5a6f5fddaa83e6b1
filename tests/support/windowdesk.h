// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The window as the user has it for a dump run: on COM 1, with its dialogs
// answered by the test.
#include "loadersim/loadersim.h"
#include "support/faults.h"
#include "support/files.h"
#include "support/manualclock.h"
#include "support/scriptedprompts.h"
#include "support/sessionprobe.h"
#include "support/wait.h"
#include "window/controls.h"
#include "window/mainwindow.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

// Whether the run is over: the port closed and Open offered again.
inline bool runEnded(tarvik::MainWindow &w)
{
    return !portOf(w.session()).isOpen() && w.control<QPushButton>("openButton")->isEnabled();
}

// One run through the window against a fresh simulated loader serving `image`
// with `fault`: Close is clicked once a stopped run waits, or once block
// `closeAt` is on its way. Returns the bytes that the run received, or what
// went wrong.
inline QByteArray runOnce(tarvik::MainWindow &w, const QByteArray &image, const LoaderFault &fault, int start,
                          int closeAt = -1)
{
    tarvik::LoaderSim sim;
    if (!sim.open())
        return "simulator failed";
    sim.setImage(image);
    fault.applyTo(sim);
    QObject::connect(&sim, &tarvik::LoaderSim::blockServed, &w, [&w, closeAt](int n) {
        if (n == closeAt)
            w.onCloseClicked();
    });
    qputenv("TARVIK_COM1", sim.slavePath().toLocal8Bit());
    w.onOpenClicked();
    if (fault.stops()) {
        if (!waitUntil([&w] { return runOf(w.session()).stage() == tarvik::DumpRun::Stage::Stopped; }))
            return "never stopped";
        w.onCloseClicked();
    }
    if (!waitUntil([&w] { return runEnded(w); }))
        return "never ended";
    if (!sim.deviations().isEmpty())
        return sim.deviations().join(u'\n').toUtf8();
    // A wrong check byte's block is in the file, but not counted as done.
    const bool badBlockKept = fault.kind == LoaderFault::Kind::BadCheck;
    const int written = w.control<QProgressBar>("progressBar")->value() + (badBlockKept ? 1 : 0);
    return image.mid(qsizetype(start) * 1024, qsizetype(written) * 1024);
}

// The window on COM 1, saving into a folder "out" of its own inside a scratch
// directory, so that anything landing beside the folder shows.
class Desk
{
public:
    explicit Desk(const QString &device, int count)
    {
        qputenv("TARVIK_COM1", QFile::encodeName(device));
        QDir(scratch.path()).mkdir(QStringLiteral("out"));
        runOf(w.session()).setClock(clock);
        w.show();
        w.control<QLineEdit>("folderEdit")->setText(folder());
        w.control<QLineEdit>("startEdit")->setText(QStringLiteral("0"));
        w.control<QLineEdit>("countEdit")->setText(QString::number(count));
    }

    // The window on the device of the simulated loader, which it opens.
    Desk(tarvik::LoaderSim &sim, int count) : Desk(sim.open() ? sim.slavePath() : QString(), count) { }

    QString folder() const { return scratch.filePath(QStringLiteral("out")) + u'/'; }
    QString path(const QString &name) const { return folder() + name; }

    void open() { w.control<QPushButton>("openButton")->click(); }
    void close() { w.control<QPushButton>("closeButton")->click(); }

    // The controls that tell the user where a run stands, e.g.
    // "Open on, Close off, folder on, lamp red".
    QString controls() const
    {
        const auto on = [this](const char *name) {
            return w.control<QWidget>(name)->isEnabled() ? QStringLiteral("on") : QStringLiteral("off");
        };
        const quint32 lamp = w.control<tarvik::ShapeWidget>("lamp")->fillColor();
        const QString colour = lamp == 255 ? QStringLiteral("red")
                             : lamp == 65280 ? QStringLiteral("green")
                                             : QString::number(lamp);
        return QStringLiteral("Open %1, Close %2, folder %3, lamp %4")
            .arg(on("openButton"), on("closeButton"), on("folderEdit"), colour);
    }
    int progress() const { return w.control<QProgressBar>("progressBar")->value(); }
    QString model() const { return w.control<QLabel>("modelLabel")->text(); }

    // What the output folder holds, and what lies beside it.
    QStringList files() const
    {
        return withoutPartRecords(QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                           | QDir::NoDotAndDotDot));
    }
    QStringList beside() const
    {
        return QDir(scratch.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                              | QDir::NoDotAndDotDot);
    }
    // What a partial read that did not succeed left in the folder: the bytes
    // of FlashDump.bin.part, or what the folder holds instead (NoFile when nothing).
    QByteArray partialDump() const
    {
        const QStringList names = files();
        if (names == QStringList{QStringLiteral("FlashDump.bin.part")})
            return readFile(path(names.first()));
        return "folder holds: [" + names.join(QStringLiteral(", ")).toUtf8() + ']';
    }
    static inline const QByteArray NoFile = QByteArrayLiteral("folder holds: []");

    // The stall watch goes by this clock: a run stalls only when a test moves it on.
    ManualClock clock;
    QTemporaryDir scratch;
    ScriptedPrompts prompts;
    tarvik::MainWindow w{&prompts};
};
