// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// How a dump and the files around it are named, and the KUP header that a
// whole dump may carry: text rules only, nothing here looks at the disk.
namespace tarvik::DumpName {

// The longest file name (in bytes, as the system stores it) that a folder can
// hold; the name of the file being received, with PartSuffix and its record's
// suffix, must fit.
constexpr int MaxNameBytes = 255;

// A dump is received under its name with this suffix until it is complete.
inline const QString PartSuffix = QStringLiteral(".part");
// The name of every dump that is not of the whole flash.
inline const QString PartialReadName = QStringLiteral("FlashDump.bin");
// The name part of a model that reports no name.
inline const QString UnnamedModel = QStringLiteral("FlashDump");

// The KUP header: HeaderPrefix, the hardware and software version digits,
// a fixed filler, the model name as received and an "x". Without the model it
// is HeaderFixedBytes long; the model starts at HeaderModelOffset.
inline const QString HeaderPrefix = QStringLiteral("KAON0008B9");
constexpr int HeaderModelOffset = 33;
constexpr int HeaderFixedBytes = HeaderModelOffset + 1;
// The length of the KUP header at the start of `head` (a file's first bytes,
// at least the header and block 0's model): the header ends with the model
// and an "x", and block 0 after it names the same model. -1 when `head` does
// not start with one.
qint64 headerLength(const QByteArray &head);
// Where in a file of `size` bytes, starting with `head`, the blocks from
// startBlock on lie: a whole dump (with or without a KUP header in front)
// holds every block of the flash, any other file is a dump of just the
// `blockCount` blocks asked for. -1 when the file is neither.
qint64 blocksOffset(qint64 size, const QByteArray &head, qint16 startBlock, qint16 blockCount);

// Whether a run writes the KUP header: a read of the whole flash with the header option.
bool headerDue(qint16 startBlock, qint16 blockCount, bool headerTicked);
// The KUP header of a full read with the header option; the model as received.
QString headerText(const QString &modelText, const QByteArray &firstBlock);
// Whether a .part (its name or path) is that of a run with the header option;
// the model of a run without it may end in "_conv" too.
bool isHeaderPart(const QString &partName);
// Whether a .part of that name can hold that range: a model's name holds the
// whole flash, the partial-read name (with a tag or not) any range (an
// unnamed model's whole flash too), and only a "_conv" name of the whole
// flash a KUP header.
bool rangeFitsName(const QString &partName, qint16 startBlock, qint16 blockCount, bool header);

// The model text of a first block: bytes from index 8 up to the first 0, or up to
// the last data byte when there is none. One character per byte. The KUP
// header carries it as it is.
QString modelText(const QByteArray &firstBlockReply);
// The longest model name that a box reports.
constexpr int MaxModelChars = 64;
// The model that a model text names: the text when it is 1 to MaxModelChars
// printable ASCII characters, otherwise none (empty). Erased flash (all 0xFF)
// or a garbled block 0 names no model: the label stays empty, the file is
// named as for a box without one.
QString modelName(const QString &modelText);
// The versions in a first block as a name gives them: bytes from the highest
// index down, in hex, with dots ("01.02.0A").
QString hardwareVersion(const QByteArray &firstBlock);
QString softwareVersion(const QByteArray &firstBlock);
// A model name made safe as part of a file name in one folder, never
// hidden and never empty.
QString safeNamePart(const QString &modelText);

// File name for a run (no folder), after the model that modelText names (see
// modelName()). firstBlock holds at least the data bytes of the first block. A tag (to keep two boxes of one model apart, say) goes
// before ".bin". The model part, then the tag, give way so that the whole name
// with PartSuffix and its record's suffix fits in one folder entry.
QString fileName(qint16 startBlock, qint16 blockCount, bool headerTicked, const QString &modelText,
                 const QByteArray &firstBlock, const QString &tag = QString());
// The name an earlier dump is kept under: the date and time it was last
// written go before ".bin", and "-2", "-3" ... after them for the second
// and later tries ("KSF-2100.2026-12-10_160405.bin").
QString keptName(const QString &name, const QDateTime &written, int attempt);

// The output folder as typed: a leading "~/" (or "~" alone) is the home folder.
QString expandFolder(const QString &folderText);
// The path of a file in the output folder: "/" goes between them unless
// the folder text already ends in one.
QString joinPath(const QString &folderText, const QString &name);

} // namespace tarvik::DumpName
