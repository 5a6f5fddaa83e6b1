// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

namespace tarvik {

// One of a frame's border lines: a line one pixel wide that runs across or
// down, drawn solid in its border colour and placed by its two end points.
// End points are in twips; the end point itself is not drawn. Mouse input
// passes through it.
class FrameLine : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int Index READ index CONSTANT)
    Q_PROPERTY(quint32 BorderColor READ borderColor WRITE setBorderColor)
    Q_PROPERTY(float X1 READ x1)
    Q_PROPERTY(float Y1 READ y1)
    Q_PROPERTY(float X2 READ x2)
    Q_PROPERTY(float Y2 READ y2)

public:
    explicit FrameLine(int index, QWidget *parent = nullptr);

    int index() const;
    quint32 borderColor() const;
    void setBorderColor(quint32 color);

    float x1() const;
    float y1() const;
    float x2() const;
    float y2() const;
    // twipsX and twipsY are the twips per pixel across and down.
    void setEnds(float x1, float y1, float x2, float y2, qreal twipsX, qreal twipsY);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_index = 0;
    quint32 m_borderColor = 0;
    float m_x1 = 0;
    float m_y1 = 0;
    float m_x2 = 0;
    float m_y2 = 0;
};

} // namespace tarvik
