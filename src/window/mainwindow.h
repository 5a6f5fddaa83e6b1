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

namespace tarvik {

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
    QString programFolder() const;
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
    // Key filters: the character to type, or a null QChar to discard it.
    QChar onLogKeyPressed(QChar typed);
    QChar onStartKeyPressed(QChar typed);
    QChar onCountKeyPressed(QChar typed);

    // Opens the port and shows the window connected.
    bool openPort(qint16 port);
    void closePort();

protected:
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
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
    // The controls of a window whose port is closed.
    void showIdle();

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

    qint16 m_startBlock = 0;
    qint16 m_blockCount = 0;
    QString m_matchedCode;
    bool m_inHeaderRule = false;
};

} // namespace tarvik
