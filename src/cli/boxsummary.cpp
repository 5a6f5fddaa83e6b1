// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/boxsummary.h"

#include <QFileInfo>
#include <QStringList>

namespace tarvik::cli {

BoxSummary BoxSummary::of(const RunReport &report, const Run &run)
{
    BoxSummary s;
    s.device = run.device;
    s.model = run.model;
    s.noModel = run.model.isEmpty() && !report.hardwareVersion.isEmpty();
    s.startBlock = run.startBlock;
    s.blockCount = run.blockCount;
    s.hardwareVersion = report.hardwareVersion;
    s.softwareVersion = report.softwareVersion;
    s.verify = run.verify;
    if (!run.verify && !report.filePath.isEmpty())
        s.filePath = QFileInfo(report.filePath).absoluteFilePath();
    if (!run.verify)
        s.previousKeptAs = report.previousKeptAs;
    s.untouchedPart = report.untouchedPart;
    s.untouchedWholeBlocks = report.untouchedWholeBlocks;
    if (!report.filePath.isEmpty()) {
        s.bytes = report.size;
        s.sha256 = QString::fromLatin1(report.sha256.toHex());
    } else if (!report.untouchedPart.isEmpty()) {
        s.bytes = report.untouchedBytes;
    } else if (run.verify) {
        s.bytes = qint64(run.blocksReceived) * protocol::BlockSize;
        s.sha256 = run.receivedSha256;
    }
    s.blocksRead = report.goodBlocks;
    s.blankBlocks = report.blankBlocks;
    s.zeroBlocks = report.zeroBlocks;
    s.continued = report.continued;
    s.continuedFrom = report.continuedFrom;
    s.comparedBlocks = report.comparedBlocks;
    s.keptBlocks = report.keptBlocks;
    s.differingBlocks = run.differingBlocks;
    s.began = run.began;
    s.ended = run.ended;
    s.seconds = run.seconds;
    s.result = run.result;

    const ResultRow &row = resultRow(run.result);
    if (!row.failed)
        return s;
    s.failedBlock = report.endedAtBlock;
    s.error = run.error;
    s.failure = failureWords(run.result, run.error, s.failedBlock, run.replySeconds, run.waitSeconds);
    NextStep step = report.nextStep(run.result);
    // Nothing stands to be continued or cut (--verify writes no dump): the same run again.
    if ((row.next == NextStep::Continue && step == NextStep::None)
        || (run.verify && (step == NextStep::Continue || step == NextStep::StartAgain
                           || step == NextStep::ContinueOrStartAgain)))
        step = NextStep::RunAgain;
    if (step == NextStep::Continue || step == NextStep::ContinueOrStartAgain)
        s.continueCommand = run.continueCommand;
    s.nextStep = nextStepText(step, FrontEnd::CommandLine, run.continueCommand,
                              step == NextStep::RunAgain ? run.runAgainCommand : run.startAgainCommand);
    return s;
}

QString blockList(const QList<int> &blocks)
{
    QStringList parts;
    for (qsizetype i = 0; i < blocks.size();) {
        qsizetype j = i;
        while (j + 1 < blocks.size() && blocks.at(j + 1) == blocks.at(j) + 1)
            ++j;
        parts << (j == i ? QString::number(blocks.at(i))
                         : QStringLiteral("%1-%2").arg(blocks.at(i)).arg(blocks.at(j)));
        i = j + 1;
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace tarvik::cli
