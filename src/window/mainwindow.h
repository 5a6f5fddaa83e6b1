// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/dumprun.h"
#include "dump/stoppeddump.h"
#include "dump/session.h"
#include "window/mainform.h"

#include <QHash>
#include <QPixmap>
#include <QWidget>

#include <memory>

class QAction;

namespace tarvik {

class Announcer;
class Prompts;

// The main window: the port list, the block range, the output folder, the
// log pane and the controls of a dump run. It owns no protocol: the session
// with its serial port and dump run lives in the dump library.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    static inline const QString AccessCode = QStringLiteral("58203");
    static inline const QString FolderPickerTitle =
            QStringLiteral("Select a directory for saving data from the flash.");

    // Without prompts, real dialogs are shown.
    explicit MainWindow(Prompts *prompts = nullptr, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The design's controls by name, e.g. control<QPushButton>("openButton").
    template<typename T>
    T *control(const char *name) const { return qobject_cast<T *>(m_form.controls.value(QLatin1String(name))); }

    QString logText() const;
    Session &session() { return m_session; }
    qint16 startBlock() const { return m_startBlock; }
    qint16 blockCount() const { return m_blockCount; }
    QString matchedCode() const { return m_matchedCode; }
    // The background photograph, drawn unscaled from the top left corner.
    QPixmap picture() const { return m_form.picture; }

public slots:
    void onOpenClicked();
    void onCloseClicked();
    void onEditClicked();
    void onFolderClicked();
    void onAboutClicked();
    void onHeaderLabelClicked();
    void onHeaderToggled();
    // The progress bar's menu, for the dump of the last good run.
    void onCopyPathTriggered();
    void onCopySha256Triggered();
    void onShowFolderTriggered();
    // Key filters: the character to type, or a null QChar to discard it.
    QChar onLogKeyPressed(QChar typed);
    QChar onStartKeyPressed(QChar typed);
    QChar onCountKeyPressed(QChar typed);

    void closePort();

protected:
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // Idle: the port closed, at start-up and after Close. RangeTaken: idle
    // after OK took the block range. Connected: the port open. Editing: the
    // block range open for editing.
    enum class WindowState { Idle, RangeTaken, Connected, Editing };
    // Enables and shows the controls as the state has them (see States in
    // mainwindow.cpp); advanced mode shows the Edit button in any state.
    void applyState(WindowState state);

    // The design's controls, built onto the window and kept by role.
    void setUpForm();
    // The controls' signals and typed characters to the window's handlers.
    void connectControls();
    void prepareControls();
    void releasePort();
    void onLogChanged();
    void enableAdvancedMode();
    QString browseForFolder(const QString &title);
    bool isFullRange() const;
    void reportOpenError(SerialService::OpenError error, qint16 port);
    // Opens the session's port, or says why it did not open.
    bool openSession(qint16 port);
    // The controls, lamp and bar of a window whose port is open.
    void showConnected();
    // How the run ended, said once: by the bar's name when the bar has the
    // focus, else announced.
    void sayEnd(const QString &text);
    // The good dump that the bar's menu offers, or none.
    void offerDump(const QString &path, const QByteArray &sha256);
    void prompt(const QString &text, const QString &title);

    void connectSession();
    // Asks about the stopped dump that the next run would meet, when there is
    // one worth keeping; `plan` is what continuing it takes.
    enum class StoppedDumpAnswer { Continue, StartAgain, Cancel };
    StoppedDumpAnswer askAboutStoppedDump(const OutputFolder &folder, ContinuePlan &plan);
    void showRunEnded(const RunReport &report);
    void showStopped(DumpRun::Outcome outcome);
    void showEnding(ProgressMeter::Ending ending);
    // What the run left for the next Open to ask about.
    void noteStoppedDump(const RunReport &report);
    void replaceLog(const QString &text);
    void appendLog(const QString &text);
    void showModel(const QString &model);
    void showProgress(int blocksDone, const QString &text);

    std::unique_ptr<Prompts> m_ownPrompts;
    Prompts *m_prompts = nullptr;
    // The controls, as the design builds them.
    MainForm m_form;

    Session m_session;

    // The stopped dump that the last run left in its .part, or would not cut,
    // with the folder text, range and header option that it ran with.
    struct StoppedDump {
        QString partName;
        QString folderText;
        qint16 startBlock = 0;
        qint16 blockCount = 0;
        bool header = false;
        bool refused = false; // the run stopped rather than cut it
    };
    StoppedDump m_stopped;

    // What the progress bar is, for a screen reader, when it holds no dump's facts.
    QString m_barDescription;
    // The end of the run that was said last; empty while a run goes on.
    QString m_saidEnd;
    Announcer *m_announcer = nullptr;
    // The last good run's dump, for the bar's menu.
    QString m_dumpPath;
    QByteArray m_dumpSha256;
    QAction *m_copyPathAction = nullptr;
    QAction *m_copySha256Action = nullptr;
    QAction *m_showFolderAction = nullptr;

    WindowState m_state = WindowState::Idle;
    bool m_advancedMode = false;
    bool m_barShown = false;

    qint16 m_startBlock = 0;
    qint16 m_blockCount = 0;
    QString m_matchedCode;
    bool m_inHeaderRule = false;
};

} // namespace tarvik
