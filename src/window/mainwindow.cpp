// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/mainwindow.h"

#include "dump/blockrange.h"
#include "dump/dumpname.h"
#include "dump/nextstep.h"
#include "dump/openfailure.h"
#include "dump/ownfile.h"
#include "dump/portmap.h"
#include "dump/session.h"
#include "window/controls.h"
#include "window/designtable.h"
#include "window/logpane.h"
#include "window/mainform.h"
#include "window/prompts.h"
#include "window/repaintpacer.h"
#include "window/spokencontrols.h"
#include "window/startfolder.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

// Resources are initialised from outside any namespace.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace tarvik {

namespace {

const QString CrLf = QStringLiteral("\r\n");

QString firstStartupLine()
{
    return QStringLiteral("ACTIVATE THE \"HOST - MODE\" OF THE STB FIRST, CLICK OPEN THEN");
}

QString secondStartupLine()
{
    return MainWindow::AccessCode
            + QStringLiteral(" for editing start block and number of blocks. (You must know what you do!!!)");
}

// What a control is in each state of the window.
enum class Cell {
    On,
    Off,
    FullRange, // on for the full block range only
    Keep,      // as it was
};

// Whether a control is shown: always, in advanced mode, or from the first Open on.
enum class Shown { Always, Advanced, SinceOpen };

struct ControlStates {
    const char *control;
    Cell idle, rangeTaken, connected, editing;
    Shown shown;
};

// The window's states, one row per control that they switch. The header
// option's caption is switched only by OK, so the range it judges is the one
// that OK took; while editing, it keeps what it had.
const ControlStates States[] = {
    //               idle             after OK         connected        editing
    {"openButton",   Cell::On,        Cell::On,        Cell::Off,       Cell::Off,  Shown::Always},
    {"closeButton",  Cell::Off,       Cell::Off,       Cell::On,        Cell::Off,  Shown::Always},
    {"portList",     Cell::On,        Cell::On,        Cell::Off,       Cell::On,   Shown::Always},
    {"folderButton", Cell::On,        Cell::On,        Cell::Off,       Cell::On,   Shown::Always},
    {"folderEdit",   Cell::On,        Cell::On,        Cell::Off,       Cell::On,   Shown::Always},
    {"editButton",   Cell::On,        Cell::On,        Cell::Off,       Cell::On,   Shown::Advanced},
    {"startEdit",    Cell::Off,       Cell::Off,       Cell::Off,       Cell::On,   Shown::Always},
    {"countEdit",    Cell::Off,       Cell::Off,       Cell::Off,       Cell::On,   Shown::Always},
    {"headerCheck",  Cell::On,        Cell::FullRange, Cell::Off,       Cell::Off,  Shown::Always},
    {"headerLabel",  Cell::FullRange, Cell::FullRange, Cell::FullRange, Cell::Keep, Shown::Always},
    {"progressBar",  Cell::On,        Cell::On,        Cell::On,        Cell::On,   Shown::SinceOpen},
};

// Where a good run saved the dump, how big it is and its SHA-256.
QString dumpFacts(const RunReport &report)
{
    return QStringLiteral("%1\n%2 bytes\nSHA-256 %3")
            .arg(report.filePath)
            .arg(report.size)
            .arg(QString::fromLatin1(report.sha256.toHex()));
}

QChar digitOnly(QChar typed)
{
    return typed >= QLatin1Char('0') && typed <= QLatin1Char('9') ? typed : QChar();
}

} // namespace

MainWindow::MainWindow(Prompts *prompts, QWidget *parent)
    : QWidget(parent), m_prompts(prompts)
{
    initResources();
    if (!m_prompts) {
        m_ownPrompts = std::make_unique<DialogPrompts>();
        m_prompts = m_ownPrompts.get();
    }
    setObjectName(QLatin1String(Design::WindowName));
    installSpokenContainers();
    setUpForm();
    m_announcer = new Announcer(this);
    m_announcer->setObjectName(QStringLiteral("endAnnouncer"));
    connectControls();
    connectSession();
    m_form.logPane->setFocus();
    prepareControls();
    m_session.setStartAgain(DumpFile::StartAgain::Never);
    describeControls(this);
    m_barDescription = m_form.progressBar->accessibleDescription();
    applyState(WindowState::Idle);
    auto *pacer = new RepaintPacer(this);
    m_form.logPane->setFlushDelay(RepaintPacer::IdleMs);
    connect(pacer, &RepaintPacer::aboutToRepaint, m_form.logPane, &LogPane::flush);
}

MainWindow::~MainWindow() = default;

void MainWindow::setUpForm()
{
    m_form = buildMainForm(this);
}

void MainWindow::connectControls()
{
    connect(m_form.openButton, &QPushButton::clicked, this, &MainWindow::onOpenClicked);
    connect(m_form.closeButton, &QPushButton::clicked, this, &MainWindow::onCloseClicked);
    connect(m_form.editButton, &QPushButton::clicked, this, &MainWindow::onEditClicked);
    connect(m_form.folderButton, &QPushButton::clicked, this, &MainWindow::onFolderClicked);
    connect(m_form.aboutLink, &ClickLabel::clicked, this, &MainWindow::onAboutClicked);
    connect(m_form.headerLabel, &ClickLabel::clicked, this, &MainWindow::onHeaderLabelClicked);
    connect(m_form.headerCheck, &QCheckBox::stateChanged, this, &MainWindow::onHeaderToggled);
    connect(m_form.logPane, &QPlainTextEdit::textChanged, this, &MainWindow::onLogChanged);
    for (QPushButton *button : {m_form.openButton, m_form.closeButton, m_form.editButton, m_form.folderButton})
        new EnterClicks(button);
    new ToolTipOnFocus(m_form.progressBar);
    new KeyPressFilter(m_form.logPane, [this](QChar typed) { return onLogKeyPressed(typed); });
    new KeyPressFilter(m_form.startEdit, [this](QChar typed) { return onStartKeyPressed(typed); });
    new KeyPressFilter(m_form.countEdit, [this](QChar typed) { return onCountKeyPressed(typed); });

    m_copyPathAction = new QAction(QStringLiteral("Copy file path"), m_form.progressBar);
    m_copySha256Action = new QAction(QStringLiteral("Copy SHA-256"), m_form.progressBar);
    m_showFolderAction = new QAction(QStringLiteral("Show in folder"), m_form.progressBar);
    connect(m_copyPathAction, &QAction::triggered, this, &MainWindow::onCopyPathTriggered);
    connect(m_copySha256Action, &QAction::triggered, this, &MainWindow::onCopySha256Triggered);
    connect(m_showFolderAction, &QAction::triggered, this, &MainWindow::onShowFolderTriggered);
    m_form.progressBar->addActions({m_copyPathAction, m_copySha256Action, m_showFolderAction});
    offerDump(QString(), QByteArray());
}

void MainWindow::applyState(WindowState state)
{
    m_state = state;
    const bool fullRange = isFullRange();
    for (const ControlStates &row : States) {
        QWidget *control = m_form.controls.value(QLatin1String(row.control));
        Q_ASSERT_X(control, "applyState", row.control);
        const Cell cell = state == WindowState::Idle         ? row.idle
                        : state == WindowState::RangeTaken   ? row.rangeTaken
                        : state == WindowState::Connected    ? row.connected
                                                             : row.editing;
        if (cell != Cell::Keep)
            control->setEnabled(cell == Cell::On || (cell == Cell::FullRange && fullRange));
        const bool shown = row.shown == Shown::Always  ? true
                         : row.shown == Shown::Advanced ? m_advancedMode
                                                        : m_barShown;
        if (control->isVisibleTo(this) != shown)
            control->setVisible(shown);
    }
    m_form.editButton->setText(state == WindowState::Editing ? QStringLiteral("OK") : QStringLiteral("Edit"));
}

void MainWindow::prepareControls()
{
    m_matchedCode.clear();
    for (int n = PortMap::FirstPort; n <= PortMap::LastPort; ++n) {
        m_form.portList->addItem(QStringLiteral("COM %1").arg(n));
        m_form.portList->setItemData(m_form.portList->count() - 1, n);
    }
    m_form.portList->setCurrentIndex(0);
    m_form.portList->refreshToolTips();
    m_form.progressBar->setValue(0);
    m_form.folderEdit->setText(startFolder(m_prompts->folders()) + QDir::separator());
    m_form.logPane->replaceText(firstStartupLine() + CrLf);
    m_form.logPane->appendText(secondStartupLine() + CrLf);
}

// Every box shows over the log as it stands.
void MainWindow::prompt(const QString &text, const QString &title)
{
    m_form.logPane->flush();
    m_prompts->message(this, text, title);
}

QString MainWindow::logText() const
{
    return m_form.logPane->text();
}

// ---- The log pane -------------------------------------------------------

void MainWindow::onLogChanged()
{
    QTextCursor end = m_form.logPane->textCursor();
    end.clearSelection();
    end.movePosition(QTextCursor::End);
    m_form.logPane->setTextCursor(end);
}

void MainWindow::connectSession()
{
    connect(&m_session, &Session::logReplaced, this, &MainWindow::replaceLog);
    connect(&m_session, &Session::logAppended, this, &MainWindow::appendLog);
    connect(&m_session, &Session::modelReported, this, &MainWindow::showModel);
    connect(&m_session, &Session::progressed, this, &MainWindow::showProgress);
    connect(&m_session, &Session::stopped, this, &MainWindow::showStopped);
    connect(&m_session, &Session::ended, this, &MainWindow::showRunEnded);
    connect(m_form.headerCheck, &QCheckBox::toggled, &m_session, &Session::setHeaderTicked);
}

void MainWindow::replaceLog(const QString &text)
{
    m_form.logPane->replaceText(text);
}

void MainWindow::appendLog(const QString &text)
{
    m_form.logPane->post(text);
}

// ---- Opening and closing the port ---------------------------------------

bool MainWindow::openSession(qint16 port)
{
    const SerialService::OpenError error = m_session.open(PortMap::path(port));
    if (error != SerialService::OpenError::None) {
        reportOpenError(error, port);
        return false;
    }
    return true;
}

void MainWindow::showConnected()
{
    m_barShown = true;
    applyState(WindowState::Connected);
    m_form.lamp->setFillColor(Design::lampColor(true));
    auto *bar = m_form.progressBar;
    bar->setValue(0);
    bar->setToolTip(QString());
    bar->setMaximum(qMax<int>(0, m_blockCount));
    bar->setFormat(ProgressMeter::format(0, m_blockCount, -1));
    bar->setFailed(false);
    if (bar->accessibleName() != Design::progressName())
        bar->setAccessibleName(Design::progressName());
    bar->setAccessibleDescription(m_barDescription);
    m_saidEnd.clear();
    m_announcer->clear();
    offerDump(QString(), QByteArray());
}

void MainWindow::sayEnd(const QString &text)
{
    if (text == m_saidEnd)
        return;
    m_saidEnd = text;
    auto *bar = m_form.progressBar;
    // A screen reader speaks the focused control's new name by itself.
    bar->setAccessibleName(text);
    if (!bar->hasFocus())
        m_announcer->announce(text);
}

void MainWindow::offerDump(const QString &path, const QByteArray &sha256)
{
    m_dumpPath = path;
    m_dumpSha256 = sha256;
    for (QAction *action : {m_copyPathAction, m_copySha256Action, m_showFolderAction})
        action->setEnabled(!path.isEmpty());
}

void MainWindow::onCopyPathTriggered()
{
    if (!m_dumpPath.isEmpty())
        QGuiApplication::clipboard()->setText(m_dumpPath);
}

void MainWindow::onCopySha256Triggered()
{
    if (!m_dumpSha256.isEmpty())
        QGuiApplication::clipboard()->setText(QString::fromLatin1(m_dumpSha256.toHex()));
}

void MainWindow::onShowFolderTriggered()
{
    if (!m_dumpPath.isEmpty())
        m_prompts->showFolder(QFileInfo(m_dumpPath).absolutePath());
}

void MainWindow::reportOpenError(SerialService::OpenError error, qint16 port)
{
    const OpenFailureReport report = m_session.openFailure(error, PortName::comPort(port));
    switch (report.shown) {
    case OpenFailureReport::Shown::Nothing:
        break;
    case OpenFailureReport::Shown::Message:
        prompt(report.text, report.title);
        break;
    case OpenFailureReport::Shown::LogLine:
        appendLog(report.text + CrLf);
        break;
    }
}

void MainWindow::closePort()
{
    m_session.close();
    applyState(WindowState::Idle);
}

void MainWindow::onCloseClicked()
{
    closePort();
}

void MainWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_form.picture);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    releasePort();
    event->accept();
}

void MainWindow::releasePort()
{
    if (m_session.isOpen())
        closePort();
}

// ---- The dump run -------------------------------------------------------

void MainWindow::onOpenClicked()
{
    const BlockRange range = parseBlockRange(m_form.startEdit->text(), m_form.countEdit->text());
    if (!range.ok) {
        prompt(range.error, QStringLiteral("Error"));
        return;
    }
    m_startBlock = range.startBlock;
    m_blockCount = range.blockCount;
    if (m_form.folderEdit->text().isEmpty()) {
        prompt(QStringLiteral("Select a directory for saving data first."), QStringLiteral("Error"));
        return;
    }
    // Before the port: a folder that cannot take the dump is found now, not
    // after the handshake and the first block.
    // The folder is opened once, now: the run writes into it whatever
    // becomes of its path meanwhile.
    const OutputFolder folder = OutputFolder::open(m_form.folderEdit->text());
    if (!folder.isOpen()) {
        prompt(folder.problem(), QStringLiteral("Error"));
        return;
    }
    // The port is opened before a stopped dump is asked about, so that a port
    // that is not there is said first; the window shows it open only once
    // the user has answered. A stopped dump is cut only when the user says so.
    const qint16 port = qint16(m_form.portList->currentData().toInt());
    if (!openSession(port)) {
        closePort();
        return;
    }
    ContinuePlan plan;
    const StoppedDumpAnswer answer = askAboutStoppedDump(folder, plan);
    if (answer == StoppedDumpAnswer::Cancel) {
        m_session.closeUnused();
        return;
    }
    m_session.setStartAgain(DumpFile::StartAgain::Named,
                            answer == StoppedDumpAnswer::StartAgain ? plan.partName : QString());
    showConnected();
    if (answer == StoppedDumpAnswer::Continue) {
        m_session.continueDump(plan);
        // Unless the run already ended at its first request.
        if (m_session.isOpen()) {
            m_form.progressBar->setMaximum(m_session.progressTotal());
            m_form.progressBar->setValue(m_session.progressDone(0));
            m_form.progressBar->setFormat(m_session.progressText());
        }
    } else {
        m_session.start(m_startBlock, m_blockCount, folder, m_form.headerCheck->isChecked());
    }
}

MainWindow::StoppedDumpAnswer MainWindow::askAboutStoppedDump(const OutputFolder &folder, ContinuePlan &plan)
{
    // The .part that the last run left over this range or would not cut,
    // else one whose record in the folder says it stopped over this range.
    const StoppedDump &last = m_stopped;
    const bool lastCounts = !last.partName.isEmpty() && last.folderText == m_form.folderEdit->text()
                            && last.header == m_form.headerCheck->isChecked()
                            && (last.refused || (last.startBlock == m_startBlock && last.blockCount == m_blockCount));
    const StoppedDumpQuestion question = stoppedDumpQuestion(folder, lastCounts ? last.partName : QString(),
                                                             m_startBlock, m_blockCount, m_form.headerCheck->isChecked());
    plan = question.plan;
    if (!question.ask)
        return StoppedDumpAnswer::StartAgain;
    m_form.logPane->flush();
    QStringList buttons{QStringLiteral("Start again"), QStringLiteral("Cancel")};
    if (question.offerContinue)
        buttons.prepend(QStringLiteral("Continue"));
    const int answer = m_prompts->ask(this, question.text, QStringLiteral("Stopped dump"), buttons);
    if (answer < 0 || answer >= buttons.size() || buttons.at(answer) == QLatin1String("Cancel"))
        return StoppedDumpAnswer::Cancel;
    return buttons.at(answer) == QLatin1String("Continue") ? StoppedDumpAnswer::Continue
                                                           : StoppedDumpAnswer::StartAgain;
}

void MainWindow::showRunEnded(const RunReport &report)
{
    m_form.lamp->setFillColor(Design::lampColor(false));
    applyState(WindowState::Idle);
    using Outcome = DumpRun::Outcome;
    auto *bar = m_form.progressBar;
    bar->setFailed(report.outcome != Outcome::Success);
    if (report.outcome == Outcome::Success) {
        // Reachable by Tab and read out, not only by the mouse.
        bar->setToolTip(plainToolTip(dumpFacts(report)));
        bar->setAccessibleDescription(dumpFacts(report));
        offerDump(report.filePath, report.sha256);
    } else if (report.outcome == Outcome::TotalMismatch) {
        showEnding(ProgressMeter::Ending::TotalCheckFailed);
    } else {
        showEnding(ProgressMeter::Ending::Stopped);
    }
    sayEnd(progressEndName(report.outcome, report.endedAtBlock, m_startBlock, bar->value(), bar->maximum()));
    noteStoppedDump(report);
    if (report.outcome == Outcome::FileError)
        prompt(report.text, QStringLiteral("Error"));
}

void MainWindow::showStopped(DumpRun::Outcome outcome)
{
    showEnding(ProgressMeter::Ending::Stopped);
    auto *bar = m_form.progressBar;
    bar->setFailed(true);
    // The port and the file stay open until Close: say what Close and Open then do.
    const DumpFile &file = m_session.dumpFile();
    if (file.mayContinue())
        appendLog(nextStepText(NextStep::CloseThenContinue, FrontEnd::Window, DumpRun::logNumber(file.continuesFrom()))
                  + CrLf);
    sayEnd(progressEndName(outcome, m_session.endedAtBlock(), m_startBlock, bar->value(), bar->maximum()));
}

// A run that ended early no longer has a speed or a time left.
void MainWindow::showEnding(ProgressMeter::Ending ending)
{
    if (ending == ProgressMeter::Ending::Stopped && m_form.progressBar->value() >= m_form.progressBar->maximum())
        return;
    m_form.progressBar->setFormat(ProgressMeter::ended(m_form.progressBar->value(), m_form.progressBar->maximum(), ending));
}

void MainWindow::noteStoppedDump(const RunReport &report)
{
    m_stopped = StoppedDump();
    if (report.refusedStoppedDump || report.mayContinue)
        m_stopped = {QFileInfo(report.partPath).fileName(), m_form.folderEdit->text(), m_startBlock, m_blockCount,
                     m_form.headerCheck->isChecked(), report.refusedStoppedDump};
    // Another user's file at the dump's name stays in the way of every
    // continued run: its message says what to do instead.
    if (report.mayContinue && !report.nameTaken)
        appendLog(nextStepText(NextStep::Continue, FrontEnd::Window, DumpRun::logNumber(report.continuesFrom)) + CrLf);
}

void MainWindow::showModel(const QString &model)
{
    m_form.modelLabel->setText(model);
}

void MainWindow::showProgress(int blocksDone, const QString &text)
{
    // A progress bar paints a new value at once, outside the window's paced
    // repaints; with updates held it is only marked for the next one.
    m_form.progressBar->setUpdatesEnabled(false);
    m_form.progressBar->setValue(blocksDone);
    m_form.progressBar->setFormat(text);
    m_form.progressBar->setUpdatesEnabled(true);
}

// ---- Block range and advanced mode ---------------------------------------

QChar MainWindow::onStartKeyPressed(QChar typed)
{
    return digitOnly(typed);
}

QChar MainWindow::onCountKeyPressed(QChar typed)
{
    return digitOnly(typed);
}

// The log takes no typed characters; the access code is matched on the way.
QChar MainWindow::onLogKeyPressed(QChar typed)
{
    if (AccessCode.contains(typed) && !m_form.editButton->isVisibleTo(this)) {
        const int m = m_matchedCode.size();
        if (m < AccessCode.size() && typed == AccessCode.at(m))
            m_matchedCode = AccessCode.left(m + 1);
        if (m_matchedCode == AccessCode)
            enableAdvancedMode();
    }
    return QChar();
}

void MainWindow::enableAdvancedMode()
{
    m_advancedMode = true;
    applyState(m_state);
    appendLog(QStringLiteral("Advanced mode.") + CrLf);
    m_matchedCode.clear();
}

bool MainWindow::isFullRange() const
{
    return isFullReadText(m_form.startEdit->text(), m_form.countEdit->text());
}

void MainWindow::onHeaderToggled()
{
    if (m_inHeaderRule || isFullRange())
        return;
    m_inHeaderRule = true;
    prompt(HeaderNeedsFullRead, QStringLiteral("Error"));
    m_form.headerCheck->setChecked(false);
    m_inHeaderRule = false;
}

void MainWindow::onHeaderLabelClicked()
{
    m_form.headerCheck->setChecked(!m_form.headerCheck->isChecked());
}

// The caption tells editing apart from the other states.
void MainWindow::onEditClicked()
{
    if (m_form.editButton->text() == QLatin1String("Edit")) {
        applyState(WindowState::Editing);
        return;
    }
    applyState(WindowState::RangeTaken);
    // A ticked option over a partial range is a change: the header rule says so once.
    if (!isFullRange())
        m_form.headerCheck->setChecked(false);
}

// ---- Output folder and About link ---------------------------------------

QString MainWindow::browseForFolder(const QString &title)
{
    return m_prompts->chooseFolder(this, title);
}

void MainWindow::onFolderClicked()
{
    m_form.folderEdit->setText(browseForFolder(FolderPickerTitle) + QDir::separator());
    if (m_form.folderEdit->text() == QString(QDir::separator()))
        m_form.folderEdit->setText(startFolder(m_prompts->folders()) + QDir::separator());
}

void MainWindow::onAboutClicked()
{
    QDesktopServices::openUrl(QUrl(Design::MakerUrl));
}

} // namespace tarvik
