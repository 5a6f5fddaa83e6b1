#include "colors.h"

#include <QApplication>
#include <QPalette>
#include <QTest>

using tarvik::colorFromOle;

class tst_Colors : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void colorFromOle_data();
    void colorFromOle();
};

// Every role gets its own colour, so that a wrong role shows.
void tst_Colors::initTestCase()
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

void tst_Colors::colorFromOle_data()
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

void tst_Colors::colorFromOle()
{
    QFETCH(quint32, value);
    QFETCH(int, role);
    QFETCH(QColor, expected);

    if (role >= 0)
        expected = QApplication::palette().color(QPalette::ColorRole(role));
    QCOMPARE(::colorFromOle(value), expected);
}

QTEST_MAIN(tst_Colors)
#include "tst_colors.moc"
