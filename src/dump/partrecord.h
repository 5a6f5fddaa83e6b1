// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace tarvik {

// The record kept beside a stopped dump's .part ("KSF-2100.bin.part.state"):
// what was asked for, what the box said of itself, how far the run got and
// why it stopped. Plain "key=value" lines that a person can read. It is
// written when the .part is created and at every end of a run, and goes away
// when the .part becomes the dump.
struct PartRecord {
    static inline const QString Suffix = QStringLiteral(".state");
    // While a run is receiving; a record that still says so after the run
    // means the program did not get to say how it ended (a crash, power lost).
    static inline const QString Receiving = QStringLiteral("receiving");

    qint16 startBlock = 0;
    qint16 blockCount = 0;
    bool header = false;
    QString model;
    QString hardware;  // "01.02.0A", as in the file name
    QString software;
    QString device;    // the device path, and its by-id link or USB serial when known
    QString deviceId;
    int wholeBlocks = 0;
    QString stoppedBy = Receiving; // a run result's word (see RunResult): "check-error", "timeout" ...
    QString written;   // local time, ISO 8601
    QString version;   // of the program that wrote it

    // A .part whose run found the whole transfer bad, or found another box,
    // holds nothing that a continued run could vouch for.
    bool mayContinue() const;
    // Why it may not be continued, for the user; empty when it may.
    QString whyNotContinued() const;

    QByteArray toText() const;
    // False when the text is not a record (a missing or malformed range).
    bool fromText(const QByteArray &text);
};

// The record's path beside a .part.
QString partRecordPath(const QString &partPath);

// A record read from beside a .part, without following a link or waiting.
struct PartRecordRead {
    bool present = false; // there is an entry at the record's path
    bool ok = false;      // and it is a record of ours
    bool notOurs = false; // it is no file of our own (a link, another user's ...)
    PartRecord record;
    QString error;        // why a present entry is no record
};
// The record of `partName` in the folder `folderFd`; `shownPath` is the
// .part's path as messages give it.
PartRecordRead readPartRecord(int folderFd, const QString &partName, const QString &shownPath);

// Writes the record of `partName` into the folder `folderFd` at once: a new
// temporary file, synced, then renamed over the record. Whatever else holds
// the record's name (a link, another user's file) is left alone and the
// write refused. False with the reason.
bool writePartRecord(int folderFd, const QString &partName, const PartRecord &record, QString *error);
// Removes the record of `partName` when it is a regular file of our own.
void removePartRecord(int folderFd, const QString &partName);

} // namespace tarvik
