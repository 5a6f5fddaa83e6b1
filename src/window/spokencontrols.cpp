// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/spokencontrols.h"

#include "transframe/frameline.h"
#include "transframe/transframe.h"
#include "window/controls.h"
#include "window/designtable.h"

#include <QAccessibleWidget>
#include <QLabel>
#include <QProgressBar>

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
            if (w && !w->isWindow() && !isDecoration(w))
                children << w;
        }
        return children;
    }
};

QAccessibleInterface *containerAccessible(const QString &, QObject *object)
{
    auto *w = qobject_cast<QWidget *>(object);
    if (!w)
        return nullptr;
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
    auto *bar = window->findChild<QProgressBar *>(QStringLiteral("progressBar"));
    if (!bar)
        return;
    // A run sets the bar's range before its first value, so the value is the cue.
    QObject::connect(bar, &QProgressBar::valueChanged, bar, [bar](int value) {
        bar->setAccessibleName(bar->maximum() > 0 ? Design::progressName(value, bar->maximum())
                                                  : QStringLiteral("Progress"));
    });
}

QString progressEndName(DumpRun::Outcome outcome, qint16 endedAt, qint16 startBlock, int done, int total)
{
    using Outcome = DumpRun::Outcome;
    QString why;
    switch (outcome) {
    case Outcome::None:
        return Design::progressName(done, total);
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
    const QString block = DumpRun::logNumber(endedAt >= 0 ? endedAt : qint16(startBlock + done));
    if (startBlock == 0)
        return QStringLiteral("Stopped at block %1 of %2: %3").arg(block).arg(total).arg(why);
    // Another range: its own first and last block, not a count that the block number passes.
    return QStringLiteral("Stopped at block %1 of blocks %2\u2013%3: %4")
            .arg(block, DumpRun::logNumber(startBlock), DumpRun::logNumber(qint16(startBlock + total - 1)), why);
}

} // namespace tarvik
