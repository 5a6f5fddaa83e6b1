// SPDX-License-Identifier: GPL-3.0-or-later
#include "transframe/colors.h"

#include <QApplication>
#include <QPalette>
#include <QTest>

using tarvik::colorFromOle;

class TestColors : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void colorFromOle_data();
    void colorFromOle();
    void designPaletteSetsEveryRole();
};

// The application's palette gets a colour of its own for every role, so that
// a wrong role shows, and so does reading the application's palette instead
// of the design's.
void TestColors::initTestCase()
{
    QPalette palette;
    int shade = 10;
    for (QPalette::ColorRole role :
         {QPalette::Button, QPalette::Dark, QPalette::ButtonText, QPalette::Light,
          QPalette::Shadow, QPalette::Mid, QPalette::Base, QPalette::Text}) {
        palette.setColor(role, QColor(shade, shade + 1, shade + 2));
        shade += 20;
    }
    QApplication::setPalette(palette);
}

void TestColors::colorFromOle_data()
{
    QTest::addColumn<quint32>("value");
    QTest::addColumn<int>("role"); // -1: a plain colour
    QTest::addColumn<QColor>("expected");

    QTest::newRow("red") << 0x000000FFu << -1 << QColor(255, 0, 0);
    QTest::newRow("blue and some green") << 0x00FF8000u << -1 << QColor(0, 128, 255);
    QTest::newRow("light grey") << 0x00E0E0E0u << -1 << QColor(224, 224, 224);
    QTest::newRow("top byte below the flag ignored") << 0x01020304u << -1 << QColor(4, 3, 2);
    QTest::newRow("button face") << 0x8000000Fu << int(QPalette::Button) << QColor();
    QTest::newRow("button shadow") << 0x80000010u << int(QPalette::Dark) << QColor();
    QTest::newRow("button text") << 0x80000012u << int(QPalette::ButtonText) << QColor();
    QTest::newRow("3-D highlight") << 0x80000014u << int(QPalette::Light) << QColor();
    QTest::newRow("3-D dark shadow") << 0x80000015u << int(QPalette::Shadow) << QColor();
    QTest::newRow("active border") << 0x8000000Au << int(QPalette::Mid) << QColor();
    QTest::newRow("window") << 0x80000005u << int(QPalette::Base) << QColor();
    QTest::newRow("window text") << 0x80000008u << int(QPalette::Text) << QColor();
    QTest::newRow("unknown system colour") << 0x80000063u << -1 << QColor();
}

void TestColors::colorFromOle()
{
    QFETCH(quint32, value);
    QFETCH(int, role);
    QFETCH(QColor, expected);

    if (role >= 0)
        expected = tarvik::designPalette().color(QPalette::ColorRole(role));
    QCOMPARE(::colorFromOle(value), expected);
    if (role >= 0)
        QVERIFY(expected != QApplication::palette().color(QPalette::ColorRole(role)));
}

// A role left unset would be filled from the application's palette, or from
// one that it keeps for a class of widgets, in every widget that inherits it.
void TestColors::designPaletteSetsEveryRole()
{
    const QPalette &palette = tarvik::designPalette();
    for (int group = 0; group < QPalette::NColorGroups; ++group) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            if (role != QPalette::NoRole)
                QVERIFY2(palette.isBrushSet(QPalette::ColorGroup(group), QPalette::ColorRole(role)),
                         qPrintable(QStringLiteral("group %1, role %2").arg(group).arg(role)));
        }
    }
    // Light: dark text on a light window and a white field.
    QVERIFY(palette.color(QPalette::Window).lightness() > 200);
    QCOMPARE(palette.color(QPalette::Base), QColor(Qt::white));
    QCOMPARE(palette.color(QPalette::Text), QColor(Qt::black));
}

QTEST_MAIN(TestColors)
#include "tst_colors.moc"
