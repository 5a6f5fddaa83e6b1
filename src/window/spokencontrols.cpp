// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/spokencontrols.h"

#include "transframe/frameline.h"
#include "transframe/transframe.h"
#include "window/controls.h"
#include "window/designtable.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QLabel>

namespace tarvik {

namespace {

// Drawn, not read: a frame's caption is already the frame's name.
bool isDecoration(const QWidget *w)
{
    if (qobject_cast<const FrameLine *>(w) || qobject_cast<const LineWidget *>(w))
        return true;
    if (const auto *shape = qobject_cast<const ShapeWidget *>(w))
        return shape->accessibleName().isEmpty();
    if (const auto *frame = qobject_cast<const TransFrame *>(w->parentWidget()))
        return w == frame->captionLabel();
    return false;
}

// An announcer is in the tree only while it says something.
bool isQuietAnnouncer(const QWidget *w)
{
    return qobject_cast<const Announcer *>(w) && !w->isVisibleTo(w->parentWidget());
}

// The window or a frame, with its controls as children and no decoration.
class ContainerAccessible : public QAccessibleWidget
{
public:
    ContainerAccessible(QWidget *w, QAccessible::Role role) : QAccessibleWidget(w, role) { }

    int childCount() const override { return int(spokenChildren().size()); }

    QAccessibleInterface *child(int index) const override
    {
        const QList<QWidget *> children = spokenChildren();
        if (index < 0 || index >= children.size())
            return nullptr;
        return QAccessible::queryAccessibleInterface(children.at(index));
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (!child)
            return -1;
        return int(spokenChildren().indexOf(qobject_cast<QWidget *>(child->object())));
    }

private:
    QList<QWidget *> spokenChildren() const
    {
        QList<QWidget *> children;
        for (QObject *o : widget()->children()) {
            auto *w = qobject_cast<QWidget *>(o);
            if (w && !w->isWindow() && !isDecoration(w) && !isQuietAnnouncer(w))
                children << w;
        }
        return children;
    }
};

// The port list: named by what it is ("Serial port"), its entry as its value,
// and the entries that drop down as its child. (Qt names a combo box by its
// current text on this platform.)
class PortListAccessible : public QAccessibleWidget
{
public:
    explicit PortListAccessible(QComboBox *list) : QAccessibleWidget(list, QAccessible::ComboBox) { }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return list()->currentText();
        return QAccessibleWidget::text(t);
    }

    int childCount() const override { return 1; }
    QAccessibleInterface *child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(list()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child && child->object() == list()->view() ? 0 : -1;
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = list()->view()->isVisible();
        s.collapsed = !s.expanded;
        return s;
    }

    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString &name) override
    {
        if (name != showMenuAction() && name != pressAction())
            return;
        if (list()->view()->isVisible())
            list()->hidePopup();
        else
            list()->showPopup();
    }

private:
    QComboBox *list() const { return static_cast<QComboBox *>(widget()); }
};

QAccessibleInterface *containerAccessible(const QString &, QObject *object)
{
    auto *w = qobject_cast<QWidget *>(object);
    if (!w)
        return nullptr;
    if (auto *list = qobject_cast<PortCombo *>(w))
        return new PortListAccessible(list);
    if (qobject_cast<Announcer *>(w))
        return new QAccessibleWidget(w, QAccessible::Notification);
    if (qobject_cast<TransFrame *>(w))
        return new ContainerAccessible(w, QAccessible::Grouping);
    // Else a plain widget, which screen readers call a filler.
    if (w->isWindow() && w->objectName() == QLatin1String(Design::WindowName))
        return new ContainerAccessible(w, QAccessible::Window);
    return nullptr;
}

} // namespace

void installSpokenContainers()
{
    static const bool installed = [] {
        QAccessible::installFactory(containerAccessible);
        return true;
    }();
    Q_UNUSED(installed);
}

void describeControls(QWidget *window)
{
    for (const Design::Spoken &s : Design::spoken()) {
        auto *control = window->findChild<QWidget *>(QLatin1String(s.name));
        Q_ASSERT_X(control, "describeControls", s.name);
        if (!control)
            continue;
        if (!s.accessibleName.isEmpty())
            control->setAccessibleName(s.accessibleName);
        if (!s.description.isEmpty())
            control->setAccessibleDescription(s.description);
        if (s.buddy) {
            auto *label = qobject_cast<QLabel *>(control);
            auto *field = window->findChild<QWidget *>(QLatin1String(s.buddy));
            Q_ASSERT_X(label && field, "describeControls", s.buddy);
            if (label && field)
                label->setBuddy(field);
        }
    }
}

QString progressEndName(DumpRun::Outcome outcome, qint16 endedAt, qint16 startBlock, int done, int total)
{
    using Outcome = DumpRun::Outcome;
    QString why;
    switch (outcome) {
    case Outcome::None:
        return Design::progressName();
    case Outcome::Success:
        return QStringLiteral("Done: %1 blocks").arg(done);
    case Outcome::TotalMismatch:
        return QStringLiteral("Total check failed: %1 blocks").arg(done);
    case Outcome::CheckError:
        why = QStringLiteral("check error");
        break;
    case Outcome::UnexpectedData:
        why = QStringLiteral("unexpected data");
        break;
    case Outcome::Timeout:
        why = QStringLiteral("stalled");
        break;
    case Outcome::PortLost:
        why = QStringLiteral("adapter lost");
        break;
    case Outcome::PortClosed:
        why = QStringLiteral("closed");
        break;
    case Outcome::FileError:
        why = QStringLiteral("file error");
        break;
    case Outcome::NotSameBox:
        why = QStringLiteral("not the same box");
        break;
    }
    if (done >= total)
        return QStringLiteral("Stopped at the total check of %1 blocks: %2").arg(total).arg(why);
    // Spoken numbers, without the log's leading zeros.
    const int block = endedAt >= 0 ? endedAt : startBlock + done;
    if (startBlock == 0)
        return QStringLiteral("Stopped at block %1 of %2: %3").arg(block).arg(total).arg(why);
    // Another range: its own first and last block, not a count that the block number passes.
    return QStringLiteral("Stopped at block %1 of blocks %2\u2013%3: %4")
            .arg(block)
            .arg(startBlock)
            .arg(startBlock + total - 1)
            .arg(why);
}

} // namespace tarvik
