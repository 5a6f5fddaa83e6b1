// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/mainform.h"

#include "transframe/colors.h"
#include "transframe/propertybag.h"
#include "transframe/transframe.h"
#include "window/controls.h"
#include "window/designfont.h"
#include "window/designtable.h"
#include "window/fixedlook.h"
#include "window/logpane.h"
#include "window/seethrough.h"

#include <QCheckBox>
#include <QIcon>
#include <QLineEdit>
#include <QMap>
#include <QProgressBar>
#include <QPushButton>

namespace tarvik {

namespace {

void setUpWindow(QWidget *window, double dpi)
{
    window->setWindowTitle(Design::Caption);
    QIcon icon;
    for (const QString &path : Design::iconPaths())
        icon.addFile(path);
    window->setWindowIcon(icon);
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                           | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    window->setFixedSize(Design::windowSize(dpi));

    // The window keeps its light look on a dark desktop theme too: its
    // controls stand on a light photograph. (The style's standard palette is
    // the desktop's own under some themes.)
    QPalette pal = designPalette();
    pal.setColor(QPalette::Window, Design::backColor());
    window->setPalette(pal);
    window->setAutoFillBackground(true);
}

QPixmap loadPicture()
{
    QPixmap picture;
    if (!picture.load(Design::PicturePath))
        qWarning("Tarvik: the window's picture %s could not be read; is Qt's JPEG plugin installed?",
                 qPrintable(Design::PicturePath));
    return picture;
}

// A frame takes its stored properties, with the window's font as the ambient one.
void loadFrame(TransFrame *frame, const char *name, const QFont &windowFont, double dpi)
{
    for (const Design::FrameStore &store : Design::frames()) {
        if (qstrcmp(store.name, name) != 0)
            continue;
        PropertyBag bag;
        for (const Design::StoredProperty &p : store.stored)
            bag.WriteProperty(p.key, p.value);
        frame->ReadProperties(bag, AmbientProperties(windowFont, QLatin1String(name), true));
        // The stored extent first; the place in the window's table then decides.
        frame->resize(Design::frameExtent(store, dpi));
        return;
    }
    Q_ASSERT_X(false, "loadFrame", name);
}

QWidget *createControl(const Design::Control &c, QWidget *container, const QFont &windowFont, double dpi)
{
    switch (c.kind) {
    case Design::Kind::Frame: {
        auto *frame = new TransFrame(container);
        loadFrame(frame, c.name, windowFont, dpi);
        return frame;
    }
    case Design::Kind::Button:
        return new QPushButton(c.caption, container);
    case Design::Kind::TextField:
        if (c.flags & Design::MultiLine)
            return new LogPane(container);
        return new QLineEdit(c.caption, container);
    case Design::Kind::Label: {
        auto *label = new ClickLabel(container);
        label->setText(c.caption);
        label->setTextFormat(Qt::PlainText);
        return label;
    }
    case Design::Kind::CheckBox:
        return new IndicatorCheckBox(container);
    case Design::Kind::ComboBox:
        return new PortCombo(container);
    case Design::Kind::Shape:
        return new ShapeWidget(c.flags & Design::Circle ? ShapeWidget::Form::Circle : ShapeWidget::Form::Rectangle,
                               c.color, container);
    case Design::Kind::Line:
        return new LineWidget(Design::lineEnds(c, dpi), Design::color(c.color), container);
    case Design::Kind::ProgressBar: {
        auto *bar = new RunBar(container);
        bar->setRange(0, 100);
        bar->setOrientation(Qt::Horizontal);
        bar->setTextVisible(true);
        bar->setFormat(QString());
        bar->setAlignment(Qt::AlignCenter);
        // Tab reaches it: after a run it says how the run ended and where the dump went,
        // and offers the dump's path, SHA-256 and folder.
        bar->setFocusPolicy(Qt::TabFocus);
        return bar;
    }
    }
    Q_UNREACHABLE();
    return nullptr;
}

// The place, stacking, state, font, colours, cursor and tooltip that the table gives a control.
void styleControl(QWidget *w, const Design::Control &c, double dpi)
{
    if (c.kind != Design::Kind::Line) {
        w->setGeometry(Design::place(c, dpi));
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
        const QColor text = c.flags & Design::Link ? Design::linkColor() : QColor(0, 0, 0);
        p.setColor(QPalette::WindowText, text);
        p.setColor(QPalette::Text, text);
        w->setPalette(p);
    }
    if (c.kind == Design::Kind::TextField || c.kind == Design::Kind::Label) {
        QPalette p = w->palette();
        p.setColor(QPalette::Disabled, QPalette::WindowText, Design::disabledTextColor());
        p.setColor(QPalette::Disabled, QPalette::Text, Design::disabledTextColor());
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
}

// Tab goes through the controls by their tab index.
void chainTabOrder(const QMap<int, QWidget *> &byTabIndex)
{
    QList<QWidget *> focusChain;
    for (auto it = byTabIndex.cbegin(); it != byTabIndex.cend(); ++it)
        focusChain.append(it.value());
    for (int i = 1; i < focusChain.size(); ++i)
        QWidget::setTabOrder(focusChain.at(i - 1), focusChain.at(i));
}

template<typename T>
T *role(const MainForm &form, const char *name)
{
    auto *control = qobject_cast<T *>(form.controls.value(QLatin1String(name)));
    Q_ASSERT_X(control, "buildMainForm", name);
    return control;
}

void findRoles(MainForm &form)
{
    form.openButton = role<QPushButton>(form, "openButton");
    form.closeButton = role<QPushButton>(form, "closeButton");
    form.editButton = role<QPushButton>(form, "editButton");
    form.folderButton = role<QPushButton>(form, "folderButton");
    form.startEdit = role<QLineEdit>(form, "startEdit");
    form.countEdit = role<QLineEdit>(form, "countEdit");
    form.folderEdit = role<QLineEdit>(form, "folderEdit");
    form.logPane = role<LogPane>(form, "logPane");
    form.portList = role<PortCombo>(form, "portList");
    form.headerCheck = role<QCheckBox>(form, "headerCheck");
    form.headerLabel = role<ClickLabel>(form, "headerLabel");
    form.aboutLink = role<ClickLabel>(form, "aboutLink");
    form.modelLabel = role<QLabel>(form, "modelLabel");
    form.lamp = role<ShapeWidget>(form, "lamp");
    form.progressBar = role<RunBar>(form, "progressBar");
}

} // namespace

MainForm buildMainForm(QWidget *window)
{
    const double dpi = window->logicalDpiX();
    setUpWindow(window, dpi);
    MainForm form;
    form.picture = loadPicture();

    Design::useFontStandIn();
    window->setFont(Design::font());

    QMap<int, QWidget *> byTabIndex;
    for (const Design::Control &c : Design::controls()) {
        QWidget *container = qstrcmp(c.container, Design::WindowName) == 0
                ? window : form.controls.value(QLatin1String(c.container));
        Q_ASSERT(container);
        QWidget *w = createControl(c, container, window->font(), dpi);
        w->setObjectName(QLatin1String(c.name));
        styleControl(w, c, dpi);
        if (c.tabIndex >= 0 && w->focusPolicy() != Qt::NoFocus)
            byTabIndex.insert(c.tabIndex, w);
        form.controls.insert(QLatin1String(c.name), w);
    }
    chainTabOrder(byTabIndex);
    findRoles(form);

    new FixedLook(window, designPalette());

    for (const Design::Control &c : Design::controls()) {
        if (c.flags & Design::SeeThrough) {
            QWidget *field = form.controls.value(QLatin1String(c.name));
            SeeThrough::makeSeeThrough(field, form.picture, Design::storedPlace(c));
        }
    }
    return form;
}

} // namespace tarvik
