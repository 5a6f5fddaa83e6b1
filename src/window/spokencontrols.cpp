// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/spokencontrols.h"

#include "window/designtable.h"

#include <QLabel>
#include <QProgressBar>

namespace tarvik {

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

} // namespace tarvik
