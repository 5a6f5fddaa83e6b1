// SPDX-License-Identifier: GPL-3.0-or-later
#include "transframe/propertybag.h"

#include <QFont>
#include <QTest>

using namespace tarvik;

class TestPropertyBag : public QObject
{
    Q_OBJECT

private slots:
    void keysMatchWithoutCase();
    void defaultsAreNotStored_data();
    void defaultsAreNotStored();
    void writingTheDefaultDropsAnEarlierValue();
    void ambientFontIsANewObjectEachTime();
};

void TestPropertyBag::keysMatchWithoutCase()
{
    PropertyBag bag;
    bag.WriteProperty(QStringLiteral("caption"), QStringLiteral("COM Control"));
    bag.WriteProperty(QStringLiteral("fontsize"), 8.25);

    QCOMPARE(bag.ReadProperty(QStringLiteral("Caption"), QStringLiteral("x")).toString(),
             QStringLiteral("COM Control"));
    QCOMPARE(bag.ReadProperty(QStringLiteral("FONTSIZE"), false).toDouble(), 8.25);
    QCOMPARE(bag.ReadProperty(QStringLiteral("FontName"), QStringLiteral("none")).toString(),
             QStringLiteral("none"));

    bag.WriteProperty(QStringLiteral("Caption"), QStringLiteral("Serial Port"));
    QCOMPARE(bag.keys(), QStringList({QStringLiteral("Caption"), QStringLiteral("fontsize")}));
    QCOMPARE(bag.ReadProperty(QStringLiteral("caption")).toString(), QStringLiteral("Serial Port"));
}

void TestPropertyBag::defaultsAreNotStored_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QVariant>("defaultValue");
    QTest::addColumn<bool>("stored");

    const FontRef font = makeFontObject(QFont(QStringLiteral("Sans"), 9));
    const FontRef sameLooks = makeFontObject(QFont(QStringLiteral("Sans"), 9));
    const PictureRef picture = std::make_shared<const QPixmap>(4, 4);

    QTest::newRow("equal 32-bit") << QVariant(qint32(1)) << QVariant(qint32(1)) << false;
    QTest::newRow("16-bit against 32-bit") << QVariant(qint16(1)) << QVariant(qint32(1)) << false;
    QTest::newRow("other number") << QVariant(qint32(0)) << QVariant(qint32(1)) << true;
    QTest::newRow("size 0 against False") << QVariant(0.0f) << QVariant(false) << false;
    QTest::newRow("size against False") << QVariant(8.25f) << QVariant(false) << true;
    QTest::newRow("True against True") << QVariant(true) << QVariant(true) << false;
    QTest::newRow("negative colour") << QVariant(qint32(0x8000000F)) << QVariant(qint32(0x8000000F))
                                     << false;
    QTest::newRow("empty text") << QVariant(QString()) << QVariant(QStringLiteral("")) << false;
    QTest::newRow("text differs in case") << QVariant(QStringLiteral("About"))
                                          << QVariant(QStringLiteral("about")) << true;
    QTest::newRow("same font object") << QVariant::fromValue(font) << QVariant::fromValue(font)
                                      << false;
    QTest::newRow("font object that looks the same") << QVariant::fromValue(font)
                                                     << QVariant::fromValue(sameLooks) << true;
    QTest::newRow("no picture against none") << QVariant::fromValue(PictureRef())
                                             << QVariant::fromValue(PictureRef()) << false;
    QTest::newRow("picture against none") << QVariant::fromValue(picture)
                                          << QVariant::fromValue(PictureRef()) << true;
    QTest::newRow("no default") << QVariant(QStringLiteral("x")) << QVariant() << true;
}

void TestPropertyBag::defaultsAreNotStored()
{
    QFETCH(QVariant, value);
    QFETCH(QVariant, defaultValue);
    QFETCH(bool, stored);

    PropertyBag bag;
    bag.WriteProperty(QStringLiteral("Key"), value, defaultValue);
    QCOMPARE(bag.contains(QStringLiteral("key")), stored);
    QVERIFY(PropertyBag::sameValue(bag.ReadProperty(QStringLiteral("Key"), defaultValue), value));
}

// A later ReadProperty must give what was written last, not an older value.
void TestPropertyBag::writingTheDefaultDropsAnEarlierValue()
{
    PropertyBag bag;
    bag.WriteProperty(QStringLiteral("BorderStyle"), qint32(0), qint32(1));
    bag.WriteProperty(QStringLiteral("borderstyle"), qint32(1), qint32(1));

    QVERIFY(bag.keys().isEmpty());
    QCOMPARE(bag.ReadProperty(QStringLiteral("BorderStyle"), qint32(1)).toInt(), 1);
}

void TestPropertyBag::ambientFontIsANewObjectEachTime()
{
    QFont font(QStringLiteral("Sans"), 11);
    font.setItalic(true);
    const AmbientProperties ambient(font, QStringLiteral("headerFrame"), false);

    const FontRef first = ambient.font();
    const FontRef second = ambient.font();
    QVERIFY(first && second);
    QVERIFY(first != second);
    QCOMPARE(first->name, QStringLiteral("Sans"));
    QCOMPARE(first->size, 11.0f);
    QVERIFY(first->italic);
    QVERIFY(!first->bold);
    QCOMPARE(ambient.displayName(), QStringLiteral("headerFrame"));
    QVERIFY(!ambient.userMode());
}

QTEST_MAIN(TestPropertyBag)
#include "tst_propertybag.moc"
