// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/textformat.h"

#include "dump/text.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QStringList>

#include <algorithm>

namespace tarvik::cli {

namespace {

QString orDash(const QString &text)
{
    const QString plain = plainText(text);
    return plain.isEmpty() ? QStringLiteral("-") : plain;
}

QJsonValue orNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

} // namespace

QString portTable(const QList<PortDetails> &ports)
{
    if (ports.isEmpty())
        return {};
    QList<QStringList> rows{{QStringLiteral("DEVICE"), QStringLiteral("BY-ID"), QStringLiteral("USB ID"),
                             QStringLiteral("MANUFACTURER"), QStringLiteral("PRODUCT"), QStringLiteral("SERIAL")}};
    for (const PortDetails &p : ports) {
        const QString usbId = p.vendorId.isEmpty() && p.productId.isEmpty()
                ? QString()
                : QStringLiteral("%1:%2").arg(orDash(p.vendorId), orDash(p.productId));
        rows << QStringList{orDash(p.device),       orDash(p.byId),    orDash(usbId),
                            orDash(p.manufacturer), orDash(p.product), orDash(p.serialNumber)};
    }
    QList<qsizetype> widths(rows.first().size(), 0);
    for (const QStringList &row : std::as_const(rows)) {
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row.at(i).size());
    }
    QString text;
    for (const QStringList &row : std::as_const(rows)) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row.at(i).leftJustified(widths.at(i) + 2) : row.at(i);
        text += line + u'\n';
    }
    return text;
}

QString portJsonLines(const QList<PortDetails> &ports)
{
    QString text;
    for (const PortDetails &p : ports) {
        QJsonObject o;
        o.insert(QStringLiteral("device"), p.device);
        o.insert(QStringLiteral("by_id"), orNull(p.byId));
        o.insert(QStringLiteral("vendor_id"), orNull(p.vendorId));
        o.insert(QStringLiteral("product_id"), orNull(p.productId));
        o.insert(QStringLiteral("manufacturer"), orNull(p.manufacturer));
        o.insert(QStringLiteral("product"), orNull(p.product));
        o.insert(QStringLiteral("serial_number"), orNull(p.serialNumber));
        text += compactJson(o) + u'\n';
    }
    return text;
}

QString compactJson(const QJsonObject &object)
{
    const QString json = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    QString out;
    out.reserve(json.size());
    for (const QChar c : json) {
        // JSON escapes the C0 controls itself; DEL and the C1 controls (which
        // a terminal may take as escape sequences) get the same treatment.
        if (isControl(c) && c.unicode() >= 0x7F)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

Tone toneOf(RunResult result)
{
    if (result == RunResult::Interrupted || result == RunResult::Different)
        return Tone::Caution;
    return resultRow(result).failed ? Tone::Bad : Tone::Good;
}

QString painted(const QString &text, Tone tone, bool colour)
{
    if (!colour || tone == Tone::Plain)
        return text;
    const char *code = tone == Tone::Good ? "32" : tone == Tone::Bad ? "31" : "33";
    return QStringLiteral("\x1b[%1m%2\x1b[0m").arg(QLatin1String(code), text);
}

QString summaryLine(const BoxSummary &s, bool colour)
{
    QString line = s.device + QStringLiteral(": ") + painted(resultWord(s.result), toneOf(s.result), colour);
    if (s.result == RunResult::Different)
        line += QStringLiteral(" in blocks ") + blockList(s.differingBlocks);
    if (!s.failure.isEmpty() && s.result != RunResult::Interrupted)
        line += QStringLiteral(" (") + s.failure + u')';
    if (!s.filePath.isEmpty())
        line += QStringLiteral(", ") + s.filePath;
    // What is on disk: never "0 bytes" for a .part that holds blocks.
    if (!s.untouchedPart.isEmpty())
        line += QStringLiteral(", %1 untouched, %2 whole blocks").arg(s.untouchedPart).arg(s.untouchedWholeBlocks);
    else
        line += QStringLiteral(", %1 bytes").arg(s.bytes);
    if (!s.sha256.isEmpty())
        line += QStringLiteral(", SHA-256 ") + s.sha256;
    line += QStringLiteral(", %1 s").arg(s.seconds, 0, 'f', 1);
    if (s.continued)
        line += QStringLiteral(", continued from block %1 (%2 kept blocks compared again, %3 kept from the earlier run)")
                        .arg(s.continuedFrom)
                        .arg(s.comparedBlocks)
                        .arg(s.keptBlocks);
    if (s.blankBlocks + s.zeroBlocks > 0)
        line += QStringLiteral(", %1 blank and %2 zero blocks").arg(s.blankBlocks).arg(s.zeroBlocks);
    if (!s.previousKeptAs.isEmpty())
        line += QStringLiteral(", earlier dump kept as ") + s.previousKeptAs;
    if (s.noModel)
        line += QStringLiteral(", ") + NoModelText;
    if (!s.nextStep.isEmpty())
        line += QStringLiteral(", ") + s.nextStep;
    return line + u'\n';
}

QString jsonLine(const BoxSummary &s)
{
    QJsonObject o;
    o.insert(QStringLiteral("format"), JsonFormat);
    o.insert(QStringLiteral("port"), s.device);
    o.insert(QStringLiteral("model"), orNull(s.model));
    o.insert(QStringLiteral("hw_version"), orNull(s.hardwareVersion));
    o.insert(QStringLiteral("sw_version"), orNull(s.softwareVersion));
    o.insert(QStringLiteral("start"), s.startBlock);
    o.insert(QStringLiteral("count"), s.blockCount);
    if (!s.filePath.isEmpty())
        o.insert(QStringLiteral("file"), s.filePath);
    if (!s.previousKeptAs.isEmpty())
        o.insert(QStringLiteral("previous_kept_as"), s.previousKeptAs);
    o.insert(QStringLiteral("bytes"), s.bytes);
    o.insert(QStringLiteral("sha256"), orNull(s.sha256));
    o.insert(QStringLiteral("blocks"), s.blocksRead);
    o.insert(QStringLiteral("blank_blocks"), s.blankBlocks);
    o.insert(QStringLiteral("zero_blocks"), s.zeroBlocks);
    if (!s.untouchedPart.isEmpty()) {
        o.insert(QStringLiteral("part"), s.untouchedPart);
        o.insert(QStringLiteral("part_untouched"), true);
        o.insert(QStringLiteral("part_whole_blocks"), s.untouchedWholeBlocks);
    }
    if (s.continued) {
        o.insert(QStringLiteral("resumed_from"), s.continuedFrom);
        o.insert(QStringLiteral("compared_blocks"), s.comparedBlocks);
        o.insert(QStringLiteral("kept_blocks"), s.keptBlocks);
    }
    if (!s.continueCommand.isEmpty())
        o.insert(QStringLiteral("resume_command"), s.continueCommand);
    o.insert(QStringLiteral("began"), RunLog::timestamp(s.began));
    o.insert(QStringLiteral("ended"), RunLog::timestamp(s.ended));
    o.insert(QStringLiteral("seconds"), qRound(s.seconds * 1000) / 1000.0);
    o.insert(QStringLiteral("result"), resultWord(s.result));
    o.insert(QStringLiteral("failed_block"), s.failedBlock >= 0 ? QJsonValue(s.failedBlock) : QJsonValue());
    if (s.verify) {
        QJsonArray differing;
        for (const int n : s.differingBlocks)
            differing.append(n);
        o.insert(QStringLiteral("differing_blocks"), differing);
    }
    if (!s.error.isEmpty())
        o.insert(QStringLiteral("error"), s.error);
    return compactJson(o) + u'\n';
}

RunLog::Fields logFooter(const BoxSummary &s)
{
    const auto number = [&s](int n) { return s.continued ? QString::number(n) : QStringLiteral("-"); };
    const bool untouched = !s.untouchedPart.isEmpty();
    return {
            {QStringLiteral("model"), orDash(s.model)},
            {QStringLiteral("hw_version"), orDash(s.hardwareVersion)},
            {QStringLiteral("sw_version"), orDash(s.softwareVersion)},
            {QStringLiteral("file"), orDash(s.filePath)},
            {QStringLiteral("bytes"), QString::number(s.bytes)},
            {QStringLiteral("sha256"), orDash(s.sha256)},
            {QStringLiteral("part"), untouched ? QFileInfo(s.untouchedPart).absoluteFilePath() : QStringLiteral("-")},
            {QStringLiteral("part_untouched"), untouched ? QStringLiteral("yes") : QStringLiteral("-")},
            {QStringLiteral("part_whole_blocks"), untouched ? QString::number(s.untouchedWholeBlocks) : QStringLiteral("-")},
            {QStringLiteral("resumed_from"), number(s.continuedFrom)},
            {QStringLiteral("compared_blocks"), number(s.comparedBlocks)},
            {QStringLiteral("kept_blocks"), number(s.keptBlocks)},
            {QStringLiteral("differing_blocks"), orDash(blockList(s.differingBlocks))},
            {QStringLiteral("result"), resultWord(s.result)},
            {QStringLiteral("failed_block"), s.failedBlock >= 0 ? QString::number(s.failedBlock) : QStringLiteral("-")},
            {QStringLiteral("error"), orDash(s.error)},
            {QStringLiteral("end"), RunLog::timestamp(s.ended)},
    };
}

} // namespace tarvik::cli
