// SPDX-License-Identifier: GPL-3.0-or-later
#include "transframe/frameline.h"

#include "transframe/colors.h"

#include <QPainter>

#include <algorithm>
#include <cstdlib>

namespace tarvik {

FrameLine::FrameLine(int index, QWidget *parent)
    : QWidget(parent), m_index(index)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

int FrameLine::index() const
{
    return m_index;
}

quint32 FrameLine::borderColor() const
{
    return m_borderColor;
}

void FrameLine::setBorderColor(quint32 color)
{
    m_borderColor = color;
    update();
}

float FrameLine::x1() const
{
    return m_x1;
}

float FrameLine::y1() const
{
    return m_y1;
}

float FrameLine::x2() const
{
    return m_x2;
}

float FrameLine::y2() const
{
    return m_y2;
}

void FrameLine::setEnds(float x1, float y1, float x2, float y2, qreal twipsX, qreal twipsY)
{
    m_x1 = x1;
    m_y1 = y1;
    m_x2 = x2;
    m_y2 = y2;
    const QPoint from(qRound(x1 / twipsX), qRound(y1 / twipsY));
    const QPoint to(qRound(x2 / twipsX), qRound(y2 / twipsY));
    setGeometry(std::min(from.x(), to.x()), std::min(from.y(), to.y()),
                std::max(1, std::abs(to.x() - from.x())), std::max(1, std::abs(to.y() - from.y())));
}

void FrameLine::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), colorFromOle(m_borderColor));
}

} // namespace tarvik
