#pragma once

#include "dumphost.h"
#include "dumprun.h"
#include "progressmeter.h"
#include "serialport.h"

#include <QHash>
#include <QPixmap>
#include <QWidget>

#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class ClickLabel;
class LogPane;
class PortCombo;
class ShapeWidget;

namespace tarvik {
class Prompts;
class TransFrame;
}

// The main window: the port list, the block range, the output folder, the
// log pane and the controls of a dump run. It owns no protocol: the dump run
// and the serial port live in the dump library.
class Form1 : public QWidget, private tarvik::DumpHost
{
    Q_OBJECT
    // The background photograph, drawn unscaled from the top left corner.
    Q_PROPERTY(QPixmap Picture READ picture)
public:
    static inline const QString AccessCode = QStringLiteral("58203");
    static inline const QString FolderPickerTitle =
            QStringLiteral("Select a directory for saving data from the flash.");

    // Without prompts, real dialogs are shown.
    explicit Form1(tarvik::Prompts *prompts = nullptr, QWidget *parent = nullptr);
    ~Form1() override;

    // The design's controls by name, e.g. control<QPushButton>("Command1").
    template<typename T>
    T *control(const char *name) const { return qobject_cast<T *>(m_controls.value(QLatin1String(name))); }

    QString logText() const;
    tarvik::SerialService &port() { return MSComm1; }
    tarvik::DumpRun &dumpRun() { return m_run; }
    qint16 startBlock() const { return StartBlock; }
    qint16 blockCount() const { return BlockCount; }
    QString matchedCode() const { return MatchedCode; }
    QString programFolder() const;
    QPixmap picture() const { return m_picture; }

public slots:
    void Command1_Click();
    void Command2_Click();
    void cmdEdit_Click();
    void cmdDir_Click();
    void Label6_Click();
    void Label8_Click();
    void chkHeader_Click();
    void Text1_KeyPress(short &KeyAscii);
    void txtStart_KeyPress(short &KeyAscii);
    void txtNumber_KeyPress(short &KeyAscii);

    bool OpenComPort(qint16 port);
    void CloseComPort();

protected:
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void buildFromDesign();
    void loadFrame(tarvik::TransFrame *frame, const char *name);
    void Form_Load();
    void Form_Unload();
    void Text1_Change();
    void EnableAdvancedMode();
    QString BrowseForFolder(const QString &sTitle);
    void digitFilter(short &KeyAscii);
    bool isFullRange() const;
    void reportOpenError(tarvik::SerialService::OpenError error, qint16 port);
    void prompt(const QString &text, const QString &title);

    // DumpHost
    void replaceLog(const QString &text) override;
    void appendLog(const QString &text) override;
    void showModel(const QString &model) override;
    void showProgress(int blocksDone) override;
    bool headerTicked() override;
    void showMessage(const QString &text, const QString &title) override;
    void closeComPort() override;

    std::unique_ptr<tarvik::Prompts> m_ownPrompts;
    tarvik::Prompts *m_prompts = nullptr;
    QHash<QString, QWidget *> m_controls;
    QPixmap m_picture;

    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *cmdEdit = nullptr;
    QPushButton *cmdDir = nullptr;
    QLineEdit *txtStart = nullptr;
    QLineEdit *txtNumber = nullptr;
    QLineEdit *Text2 = nullptr;
    LogPane *Text1 = nullptr;
    PortCombo *cmbCom = nullptr;
    QCheckBox *chkHeader = nullptr;
    ClickLabel *Label8 = nullptr;
    ClickLabel *Label6 = nullptr;
    QLabel *lblModel = nullptr;
    ShapeWidget *Shape1 = nullptr;
    QProgressBar *ProgressBar1 = nullptr;

    tarvik::SerialPort MSComm1;
    tarvik::DumpRun m_run{MSComm1, *this};
    tarvik::ProgressMeter m_meter;

    qint16 StartBlock = 0;
    qint16 BlockCount = 0;
    QString MatchedCode;
    bool m_inHeaderRule = false;
};
