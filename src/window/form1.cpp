#include "form1.h"

#include "blockrange.h"
#include "colors.h"
#include "controls.h"
#include "designfont.h"
#include "designtable.h"
#include "fixedlook.h"
#include "logpane.h"
#include "modsubtext.h"
#include "openfailure.h"
#include "prompts.h"
#include "repaintpacer.h"
#include "propertybag.h"
#include "session.h"
#include "transframe.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>

#include <unistd.h>
using tarvik::SerialService;
namespace Design = tarvik::Design;

namespace {

const QString CrLf = QStringLiteral("\r\n");
constexpr quint32 LampRed = 255;
constexpr quint32 LampGreen = 65280;
// The text of disabled controls: a grey that stays readable on the photograph.
const QColor GrayText(109, 109, 109);

QString firstStartupLine()
{
    return QStringLiteral("ACTIVATE THE \"HOST - MODE\" OF THE STB FIRST, CLICK OPEN THEN");
}

QString secondStartupLine()
{
    return Form1::AccessCode
            + QStringLiteral(" for editing start block and number of blocks. (You must know what you do!!!)");
}

// Where dumps go until the user picks a folder: the program's folder when the
// user may write there (a build tree, a copy in the user's own folder), else
// the Documents folder, else the home folder. An installed program's folder is
// not one the user can write.
QString startFolder(const QString &programFolder)
{
    const auto writable = [](const QString &folder) {
        return !folder.isEmpty()
                && ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
    };
    if (writable(programFolder))
        return programFolder;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

QString dumpToolTip(const tarvik::DumpFile &file)
{
    return QStringLiteral("%1\n%2 bytes\nSHA-256 %3")
            .arg(file.path())
            .arg(file.size())
            .arg(QString::fromLatin1(file.sha256().toHex()));
}

} // namespace

static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

Form1::Form1(tarvik::Prompts *prompts, QWidget *parent)
    : QWidget(parent), m_prompts(prompts)
{
    initResources();
    if (!m_prompts) {
        m_ownPrompts = std::make_unique<tarvik::DialogPrompts>();
        m_prompts = m_ownPrompts.get();
    }
    setObjectName(QStringLiteral("Form1"));
    buildFromDesign();
    Form_Load();
    auto *pacer = new RepaintPacer(this);
    Text1->setFlushDelay(RepaintPacer::IdleMs);
    connect(pacer, &RepaintPacer::aboutToRepaint, Text1, &LogPane::flush);
}

Form1::~Form1() = default;

void Form1::buildFromDesign()
{
    const double dpi = logicalDpiX();
    auto px = [dpi](int twips) { return Design::toPixels(twips, dpi); };

    setWindowTitle(Design::Caption);
    QIcon icon;
    for (const QString &path : Design::iconPaths())
        icon.addFile(path);
    setWindowIcon(icon);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(px(Design::ClientWidth), px(Design::ClientHeight));

    // The window keeps its light look on a dark desktop theme too: its
    // controls stand on a light photograph. (The style's standard palette is
    // the desktop's own under some themes.)
    QPalette pal = tarvik::designPalette();
    pal.setColor(QPalette::Window, QColor(Design::BackRed, Design::BackGreen, Design::BackBlue));
    setPalette(pal);
    setAutoFillBackground(true);
    if (!m_picture.load(Design::PicturePath))
        qWarning("Tarvik: the window's picture %s could not be read; is Qt's JPEG plugin installed?",
                 qPrintable(Design::PicturePath));

    Design::useFontStandIn();
    setFont(Design::font());

    QList<QWidget *> focusChain; // by tab index
    QMap<int, QWidget *> byTabIndex;

    for (const Design::Control &c : Design::controls()) {
        QWidget *container = QLatin1String(c.container) == QLatin1String("Form1")
                ? this : m_controls.value(QLatin1String(c.container));
        Q_ASSERT(container);
        QWidget *w = nullptr;
        switch (c.kind) {
        case Design::Kind::Frame: {
            auto *frame = new tarvik::TransFrame(container);
            loadFrame(frame, c.name);
            w = frame;
            break;
        }
        case Design::Kind::Button:
            w = new QPushButton(c.caption, container);
            break;
        case Design::Kind::TextField:
            if (c.flags & Design::MultiLine)
                w = new LogPane(container);
            else
                w = new QLineEdit(c.caption, container);
            break;
        case Design::Kind::Label: {
            auto *label = new ClickLabel(container);
            label->setText(c.caption);
            label->setTextFormat(Qt::PlainText);
            w = label;
            break;
        }
        case Design::Kind::CheckBox:
            w = new IndicatorCheckBox(container);
            break;
        case Design::Kind::ComboBox:
            w = new PortCombo(container);
            break;
        case Design::Kind::Shape:
            w = new ShapeWidget(c.flags & Design::Circle ? ShapeWidget::Form::Circle
                                                         : ShapeWidget::Form::Rectangle,
                                c.color, container);
            break;
        case Design::Kind::Line:
            w = new LineWidget(QPoint(px(c.left), px(c.top)), QPoint(px(c.width), px(c.height)),
                               c.color, container);
            break;
        case Design::Kind::ProgressBar: {
            auto *bar = new QProgressBar(container);
            bar->setRange(0, 100);
            bar->setOrientation(Qt::Horizontal);
            bar->setTextVisible(true);
            bar->setFormat(QString());
            bar->setAlignment(Qt::AlignCenter);
            w = bar;
            break;
        }
        }
        w->setObjectName(QLatin1String(c.name));
        if (c.kind != Design::Kind::Line) {
            w->setGeometry(px(c.left), px(c.top), px(c.width), px(c.height));
            w->setProperty("TwipsGeometry", QRectF(c.left, c.top, c.width, c.height));
        }
        if (c.kind == Design::Kind::Shape || c.kind == Design::Kind::Line
            || c.kind == Design::Kind::Label)
            w->lower();
        if (c.flags & Design::Disabled)
            w->setEnabled(false);
        if (c.flags & Design::Hidden)
            w->setVisible(false);
        if (c.flags & (Design::Bold | Design::Link)) {
            QFont f = w->font();
            f.setBold(c.flags & Design::Bold);
            f.setUnderline(c.flags & Design::Link);
            w->setFont(f);
        }
        if (c.flags & (Design::BlackText | Design::Link)) {
            QPalette p = w->palette();
            const QColor text = c.flags & Design::Link ? QColor(0, 0, 255) : QColor(0, 0, 0);
            p.setColor(QPalette::WindowText, text);
            p.setColor(QPalette::Text, text);
            w->setPalette(p);
        }
        if (c.kind == Design::Kind::TextField || c.kind == Design::Kind::Label) {
            QPalette p = w->palette();
            p.setColor(QPalette::Disabled, QPalette::WindowText, GrayText);
            p.setColor(QPalette::Disabled, QPalette::Text, GrayText);
            w->setPalette(p);
        }
        if (c.flags & Design::Link) {
            const QPixmap hand(Design::LinkCursorPath);
            if (hand.isNull())
                w->setCursor(Qt::PointingHandCursor);
            else
                w->setCursor(QCursor(hand, Design::LinkCursorHotX, Design::LinkCursorHotY));
        }
        if (!c.toolTip.isEmpty())
            w->setToolTip(c.toolTip);
        if (c.tabIndex >= 0 && w->focusPolicy() != Qt::NoFocus)
            byTabIndex.insert(c.tabIndex, w);
        m_controls.insert(QLatin1String(c.name), w);
    }

    for (auto it = byTabIndex.cbegin(); it != byTabIndex.cend(); ++it)
        focusChain.append(it.value());
    for (int i = 1; i < focusChain.size(); ++i)
        setTabOrder(focusChain.at(i - 1), focusChain.at(i));

    Command1 = control<QPushButton>("Command1");
    Command2 = control<QPushButton>("Command2");
    cmdEdit = control<QPushButton>("cmdEdit");
    cmdDir = control<QPushButton>("cmdDir");
    txtStart = control<QLineEdit>("txtStart");
    txtNumber = control<QLineEdit>("txtNumber");
    Text2 = control<QLineEdit>("Text2");
    Text1 = control<LogPane>("Text1");
    cmbCom = control<PortCombo>("cmbCom");
    chkHeader = control<QCheckBox>("chkHeader");
    Label8 = control<ClickLabel>("Label8");
    Label6 = control<ClickLabel>("Label6");
    lblModel = control<QLabel>("lblModel");
    Shape1 = control<ShapeWidget>("Shape1");
    ProgressBar1 = control<QProgressBar>("ProgressBar1");

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(cmdEdit, &QPushButton::clicked, this, &Form1::cmdEdit_Click);
    connect(cmdDir, &QPushButton::clicked, this, &Form1::cmdDir_Click);
    connect(Label6, &ClickLabel::clicked, this, &Form1::Label6_Click);
    connect(Label8, &ClickLabel::clicked, this, &Form1::Label8_Click);
    connect(chkHeader, &QCheckBox::stateChanged, this, &Form1::chkHeader_Click);
    connect(Text1, &QPlainTextEdit::textChanged, this, &Form1::Text1_Change);
    // A run that ended early no longer has a speed or a time left.
    const auto showEnding = [this](tarvik::ProgressMeter::Ending ending) {
        ProgressBar1->setFormat(tarvik::ProgressMeter::ended(ProgressBar1->value(),
                                                             ProgressBar1->maximum(), ending));
    };
    connect(&m_run, &tarvik::DumpRun::stageChanged, this, [this, showEnding](tarvik::DumpRun::Stage stage) {
        using Stage = tarvik::DumpRun::Stage;
        if ((stage == Stage::Stopped || stage == Stage::Idle)
            && ProgressBar1->value() < ProgressBar1->maximum())
            showEnding(tarvik::ProgressMeter::Ending::Stopped);
    });
    connect(&m_run, &tarvik::DumpRun::totalCheckFailed, this,
            [showEnding] { showEnding(tarvik::ProgressMeter::Ending::TotalCheckFailed); });
    connect(&m_run, &tarvik::DumpRun::succeeded, this,
            [this] { ProgressBar1->setToolTip(dumpToolTip(m_run.dumpFile())); });
    new KeyPressFilter(Text1, [this](short &k) { Text1_KeyPress(k); });
    new KeyPressFilter(txtStart, [this](short &k) { txtStart_KeyPress(k); });
    new KeyPressFilter(txtNumber, [this](short &k) { txtNumber_KeyPress(k); });

    new FixedLook(this, tarvik::designPalette());
    Text1->setFocus();
}

void Form1::loadFrame(tarvik::TransFrame *frame, const char *name)
{
    for (const Design::FrameStore &store : Design::frames()) {
        if (qstrcmp(store.name, name) != 0)
            continue;
        tarvik::PropertyBag bag;
        for (const Design::StoredProperty &p : store.stored)
            bag.WriteProperty(p.key, p.value);
        frame->ReadProperties(bag, tarvik::AmbientProperties(font(), QLatin1String(name), true));
        // The stored extent first; the place in the window's table then decides.
        const double dpi = logicalDpiX();
        const auto extent = [&bag, dpi](const char *key) {
            const int stored = bag.ReadProperty(QLatin1String(key)).toInt();
            return Design::toPixels(Design::extentToTwips(stored), dpi);
        };
        frame->resize(extent("_extentx"), extent("_extenty"));
        return;
    }
    Q_ASSERT_X(false, "Form1::loadFrame", name);
}

void Form1::Form_Load()
{
    MatchedCode.clear();
    for (int n = 1; n <= 4; ++n) {
        cmbCom->addItem(QStringLiteral("COM %1").arg(n));
        cmbCom->setItemData(cmbCom->count() - 1, n);
    }
    cmbCom->setCurrentIndex(0);
    cmbCom->refreshToolTips();
    tarvik::Session::applyLineSettings(MSComm1);
    ProgressBar1->setValue(0);
    ProgressBar1->setVisible(false);
    Text2->setText(startFolder(programFolder()) + QDir::separator());
    Text1->replaceText(firstStartupLine() + CrLf);
    Text1->appendText(secondStartupLine() + CrLf);
    modSubText::SetCustomBackground(Text1);
    modSubText::SetCustomBackground(Text2);
    modSubText::SetCustomBackground(txtNumber);
    modSubText::SetCustomBackground(txtStart);
}

QString Form1::programFolder() const
{
    return QCoreApplication::applicationDirPath();
}

// Every box shows over the log as it stands.
void Form1::prompt(const QString &text, const QString &title)
{
    Text1->flush();
    m_prompts->message(this, text, title);
}

QString Form1::logText() const
{
    return Text1->text();
}

// ---- The log pane -------------------------------------------------------

void Form1::Text1_Change()
{
    QTextCursor end = Text1->textCursor();
    end.clearSelection();
    end.movePosition(QTextCursor::End);
    Text1->setTextCursor(end);
}

void Form1::replaceLog(const QString &text)
{
    Text1->replaceText(text);
}

void Form1::appendLog(const QString &text)
{
    Text1->post(text);
}

// ---- Opening and closing the port ---------------------------------------

bool Form1::OpenComPort(qint16 port)
{
    MSComm1.setCommPort(port);
    const SerialService::OpenError error = MSComm1.setPortOpen(true);
    bool result = false;
    if (error == SerialService::OpenError::None) {
        if (MSComm1.portOpen()) {
            cmdDir->setEnabled(false);
            cmbCom->setEnabled(false);
            cmdEdit->setEnabled(false);
            Command1->setEnabled(false);
            Command2->setEnabled(true);
            Text2->setEnabled(false);
            chkHeader->setEnabled(false);
            Shape1->setFillColor(LampGreen);
            ProgressBar1->setValue(0);
            ProgressBar1->setToolTip(QString());
            ProgressBar1->setMaximum(qMax<int>(0, BlockCount));
            m_meter.start(BlockCount);
            ProgressBar1->setFormat(tarvik::ProgressMeter::format(0, BlockCount, -1));
            ProgressBar1->setVisible(true);
            result = true;
        } else {
            appendLog(QStringLiteral("error opening COM%1").arg(port) + CrLf);
        }
    }
    reportOpenError(error, port);
    return result;
}

void Form1::reportOpenError(SerialService::OpenError error, qint16 port)
{
    const QString path = MSComm1.devicePath();
    const QString group = error == SerialService::OpenError::PermissionDenied ? tarvik::deviceGroup(path)
                                                                              : QString();
    const tarvik::OpenFailureReport report = tarvik::describeOpenFailure(
            error, tarvik::PortName::comPort(port), path, group, MSComm1.errorString());
    switch (report.shown) {
    case tarvik::OpenFailureReport::Shown::Nothing:
        break;
    case tarvik::OpenFailureReport::Shown::Message:
        prompt(report.text, report.title);
        break;
    case tarvik::OpenFailureReport::Shown::LogLine:
        appendLog(report.text + CrLf);
        break;
    }
}

void Form1::CloseComPort()
{
    if (MSComm1.portOpen())
        Shape1->setFillColor(LampRed);
    tarvik::Session::end(MSComm1, m_run, *this);
    chkHeader->setEnabled(true);
    cmdDir->setEnabled(true);
    cmbCom->setEnabled(true);
    Command1->setEnabled(true);
    cmdEdit->setEnabled(true);
    Command2->setEnabled(false);
    Text2->setEnabled(true);
}

void Form1::Command2_Click()
{
    CloseComPort();
}

void Form1::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_picture);
}

void Form1::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void Form1::Form_Unload()
{
    if (MSComm1.portOpen())
        CloseComPort();
}

// ---- The dump run -------------------------------------------------------

void Form1::Command1_Click()
{
    const tarvik::BlockRange range = tarvik::parseBlockRange(txtStart->text(), txtNumber->text());
    if (!range.ok) {
        prompt(range.error, QStringLiteral("Error"));
        return;
    }
    StartBlock = range.startBlock;
    BlockCount = range.blockCount;
    if (Text2->text().isEmpty()) {
        prompt(QStringLiteral("Select a directory for saving data first."), QStringLiteral("Error"));
        return;
    }
    const qint16 port = qint16(cmbCom->currentData().toInt());
    if (!OpenComPort(port)) {
        CloseComPort();
        return;
    }
    m_run.start(StartBlock, BlockCount, Text2->text());
}

void Form1::showModel(const QString &model)
{
    lblModel->setText(model);
}

void Form1::showProgress(int blocksDone)
{
    // A progress bar paints a new value at once, outside the window's paced
    // repaints; with updates held it is only marked for the next one.
    ProgressBar1->setUpdatesEnabled(false);
    ProgressBar1->setValue(blocksDone);
    ProgressBar1->setFormat(m_meter.update(blocksDone));
    ProgressBar1->setUpdatesEnabled(true);
}

bool Form1::headerTicked()
{
    return chkHeader->isChecked();
}

void Form1::showMessage(const QString &text, const QString &title)
{
    prompt(text, title);
}

void Form1::closeComPort()
{
    CloseComPort();
}

// ---- Block range and advanced mode ---------------------------------------

void Form1::digitFilter(short &KeyAscii)
{
    const QChar c = QChar(ushort(KeyAscii));
    if (!(c >= QLatin1Char('0') && c <= QLatin1Char('9')))
        KeyAscii = 0;
}

void Form1::txtStart_KeyPress(short &KeyAscii)
{
    digitFilter(KeyAscii);
}

void Form1::txtNumber_KeyPress(short &KeyAscii)
{
    digitFilter(KeyAscii);
}

void Form1::Text1_KeyPress(short &KeyAscii)
{
    const QChar typed = QChar(ushort(KeyAscii));
    if (AccessCode.contains(typed) && !cmdEdit->isVisibleTo(this)) {
        const int m = MatchedCode.size();
        if (m < AccessCode.size() && typed == AccessCode.at(m))
            MatchedCode = AccessCode.left(m + 1);
        if (MatchedCode == AccessCode)
            EnableAdvancedMode();
    }
    KeyAscii = 0;
}

void Form1::EnableAdvancedMode()
{
    cmdEdit->setVisible(true);
    appendLog(QStringLiteral("Advanced mode.") + CrLf);
    MatchedCode.clear();
}

bool Form1::isFullRange() const
{
    return txtStart->text() == QLatin1String("0") && txtNumber->text() == QLatin1String("1024");
}

void Form1::chkHeader_Click()
{
    if (m_inHeaderRule || isFullRange())
        return;
    m_inHeaderRule = true;
    prompt(tarvik::HeaderNeedsFullRead, QStringLiteral("Error"));
    chkHeader->setChecked(false);
    m_inHeaderRule = false;
}

void Form1::Label8_Click()
{
    chkHeader->setChecked(!chkHeader->isChecked());
}

void Form1::cmdEdit_Click()
{
    if (cmdEdit->text() == QLatin1String("Edit")) {
        Command1->setEnabled(false);
        txtStart->setEnabled(true);
        txtNumber->setEnabled(true);
        cmdEdit->setText(QStringLiteral("OK"));
        chkHeader->setEnabled(false);
        return;
    }
    txtStart->setEnabled(false);
    txtNumber->setEnabled(false);
    cmdEdit->setText(QStringLiteral("Edit"));
    Command1->setEnabled(true);
    if (isFullRange()) {
        chkHeader->setEnabled(true);
        Label8->setEnabled(true);
    } else {
        chkHeader->setEnabled(false);
        chkHeader->setChecked(false);
        Label8->setEnabled(false);
    }
}

// ---- Output folder and About link ---------------------------------------

QString Form1::BrowseForFolder(const QString &sTitle)
{
    return m_prompts->chooseFolder(this, sTitle);
}

void Form1::cmdDir_Click()
{
    Text2->setText(BrowseForFolder(FolderPickerTitle) + QDir::separator());
    if (Text2->text() == QString(QDir::separator()))
        Text2->setText(startFolder(programFolder()) + QDir::separator());
}

void Form1::Label6_Click()
{
    QDesktopServices::openUrl(QUrl(Design::MakerUrl));
}
