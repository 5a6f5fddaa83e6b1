// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/controls.h"

#include "transframe/colors.h"

#include <QContextMenuEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTextDocument>
#include <QToolTip>

#include "dump/portinfo.h"
#include "dump/portmap.h"
#include "window/designtable.h"

namespace tarvik {

ClickLabel::ClickLabel(QWidget *parent)
    : QLabel(parent)
{
}

void ClickLabel::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void ClickLabel::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton
            && rect().contains(event->position().toPoint());
    m_pressed = false;
    QLabel::mouseReleaseEvent(event);
    if (click)
        emit clicked();
}

IndicatorCheckBox::IndicatorCheckBox(QWidget *parent)
    : QCheckBox(parent)
{
}

bool IndicatorCheckBox::hitButton(const QPoint &pos) const
{
    return rect().contains(pos);
}

void IndicatorCheckBox::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.rect = rect();
    painter.drawPrimitive(QStyle::PE_IndicatorCheckBox, option);
}

ShapeWidget::ShapeWidget(Form form, quint32 color, QWidget *parent)
    : QWidget(parent), m_form(form), m_color(color)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ShapeWidget::setFillColor(quint32 color)
{
    m_color = color;
    update();
}

void ShapeWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QColor color = colorFromOle(m_color);
    if (m_form == Form::Circle) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::black, 1));
        painter.setBrush(color);
        const int d = qMin(width(), height()) - 1;
        painter.drawEllipse(QRectF((width() - d) / 2.0, (height() - d) / 2.0, d, d).adjusted(0.5, 0.5, -0.5, -0.5));
    } else {
        painter.setPen(QPen(color, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

LineWidget::LineWidget(const QLine &ends, const QColor &color, QWidget *parent)
    : QWidget(parent), m_color(color)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    const QRect box = QRect(ends.p1(), ends.p2()).normalized();
    setGeometry(box.adjusted(0, 0, 1, 1));
    m_from = ends.p1() - box.topLeft();
    m_to = ends.p2() - box.topLeft();
}

void LineWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(QPen(m_color, 1));
    painter.drawLine(m_from, m_to);
}

QString plainToolTip(const QString &text)
{
    return text.isEmpty() ? QString() : Qt::convertFromPlainText(text, Qt::WhiteSpacePre);
}

PortCombo::PortCombo(QWidget *parent)
    : QComboBox(parent)
{
}

void PortCombo::refreshToolTips()
{
    for (int i = 0; i < count(); ++i) {
        const QString text = portDescription(itemData(i).toInt());
        setItemData(i, plainToolTip(text), Qt::ToolTipRole);
        setItemData(i, text, Qt::AccessibleDescriptionRole);
    }
}

void PortCombo::showPopup()
{
    refreshToolTips();
    QComboBox::showPopup();
}

RunBar::RunBar(QWidget *parent)
    : QProgressBar(parent)
{
    setContextMenuPolicy(Qt::DefaultContextMenu);
}

void RunBar::setFailed(bool failed)
{
    if (m_failed == failed)
        return;
    m_failed = failed;
    QPalette p = palette();
    if (failed) {
        m_fill = p.color(QPalette::Highlight);
        p.setColor(QPalette::Highlight, Design::color(Design::lampColor(false)));
    } else {
        p.setColor(QPalette::Highlight, m_fill);
    }
    setPalette(p);
}

void RunBar::paintEvent(QPaintEvent *event)
{
    QProgressBar::paintEvent(event);
    if (!hasFocus())
        return;
    // Two pixels of the text colour just inside the frame, seen on the chunk and beside it.
    QPainter painter(this);
    QPen pen(palette().color(QPalette::WindowText), 2, Qt::DotLine);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect()).adjusted(2, 2, -2, -2));
}

void RunBar::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)
        || (event->key() == Qt::Key_Menu && event->modifiers() == Qt::NoModifier)) {
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, rect().center(), mapToGlobal(rect().center()));
        contextMenuEvent(&menu);
        return;
    }
    QProgressBar::keyPressEvent(event);
}

void RunBar::contextMenuEvent(QContextMenuEvent *event)
{
    // One menu at a time, however the key reached it.
    if (actions().isEmpty() || m_menu)
        return;
    auto *menu = new QMenu(this);
    m_menu = menu;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setObjectName(QStringLiteral("progressMenu"));
    menu->addActions(actions());
    const QPoint at = event->reason() == QContextMenuEvent::Mouse ? event->globalPos()
                                                                   : mapToGlobal(QPoint(0, height()));
    menu->popup(at);
    event->accept();
}

Announcer::Announcer(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 0, 1, 1);
    setVisible(false);
}

void Announcer::announce(const QString &text)
{
    // A screen reader speaks a notification when it shows.
    setVisible(false);
    setAccessibleName(text);
    setVisible(true);
    emit announced(text);
}

void Announcer::clear()
{
    setVisible(false);
}

QString portDescription(int n)
{
    // The path and the USB strings come from outside: each line is plain text.
    QStringList lines{plainText(PortMap::tooltip(n))};
    const QString path = PortMap::path(n);
    if (path.isEmpty() || !QFileInfo::exists(path))
        return lines.constFirst();
    const PortDetails d = collectPortDetails({path}).value(0);
    if (!d.byId.isEmpty() && d.byId != path)
        lines << plainText(d.byId);
    if (!d.vendorId.isEmpty()) {
        QStringList usb{QStringLiteral("USB %1:%2").arg(d.vendorId, d.productId)};
        const QString maker = QStringList{d.manufacturer, d.product}.join(u' ').trimmed();
        if (!maker.isEmpty())
            usb << maker;
        if (!d.serialNumber.isEmpty())
            usb << QStringLiteral("serial %1").arg(d.serialNumber);
        lines << plainText(usb.join(QStringLiteral(", ")));
    }
    return lines.join(u'\n');
}

EnterClicks::EnterClicks(QPushButton *button)
    : QObject(button)
{
    button->installEventFilter(this);
}

bool EnterClicks::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (!enter || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    auto *button = static_cast<QPushButton *>(watched);
    if (!button->isEnabled())
        return false;
    button->click();
    return true;
}

ToolTipOnFocus::ToolTipOnFocus(QWidget *target)
    : QObject(target)
{
    target->installEventFilter(this);
}

bool ToolTipOnFocus::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        const auto reason = static_cast<QFocusEvent *>(event)->reason();
        auto *target = static_cast<QWidget *>(watched);
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason) {
            // Once the focus change is through: a tooltip hides at every focus event.
            QMetaObject::invokeMethod(
                    target,
                    [target] {
                        if (target->hasFocus() && !target->toolTip().isEmpty())
                            QToolTip::showText(target->mapToGlobal(QPoint(0, target->height())), target->toolTip(),
                                               target);
                    },
                    Qt::QueuedConnection);
        }
    } else if (event->type() == QEvent::FocusOut) {
        QToolTip::hideText();
    }
    return QObject::eventFilter(watched, event);
}

KeyPressFilter::KeyPressFilter(QWidget *target, Handler handler)
    : QObject(target), m_handler(std::move(handler))
{
    target->installEventFilter(this);
}

bool KeyPressFilter::typesCharacter(const QKeyEvent *event)
{
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    switch (event->key()) {
    case Qt::Key_Delete:
    case Qt::Key_Left: case Qt::Key_Right: case Qt::Key_Up: case Qt::Key_Down:
    case Qt::Key_Home: case Qt::Key_End: case Qt::Key_PageUp: case Qt::Key_PageDown:
    case Qt::Key_Insert: case Qt::Key_Tab: case Qt::Key_Backtab:
        return false;
    default:
        break;
    }
    const QString text = event->text();
    return text.size() == 1;
}

bool KeyPressFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    if (!typesCharacter(key))
        return false;
    return m_handler(key->text().at(0)).isNull();
}

} // namespace tarvik
