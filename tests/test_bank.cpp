// The bank's arithmetic: counts, the buttons' grid, frame heights, the lists'
// items and what a stored count stands for.
#include "channel/bank.h"

#include <QtTest>

using namespace queltor;

class TestBank : public QObject
{
    Q_OBJECT
private slots:
    void bankArithmetic_data();
    void bankArithmetic();
    void buttonsSitOnTheGrid();
    void storedNumberGivesIndex_data();
    void storedNumberGivesIndex();
};

void TestBank::bankArithmetic_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("frame");
    QTest::newRow("10 channels") << 0 << 10 << 775;
    QTest::newRow("20 channels") << 1 << 20 << 1105;
    QTest::newRow("50 channels") << 4 << 50 << 2095;
    QTest::newRow("100 channels") << 9 << 100 << 3745;
}

void TestBank::bankArithmetic()
{
    QFETCH(int, index);
    QFETCH(int, count);
    QFETCH(int, frame);
    QCOMPARE(bank::channelCount(index), count);
    QCOMPARE(bank::frameHeight(index), frame);

    const QStringList items = bank::listItems(index);
    QCOMPARE(items.size(), count);
    QCOMPARE(items.first(), QStringLiteral("0"));
    QCOMPARE(items.last(), QString::number(count - 1));
    QVERIFY(!items.contains(QStringLiteral("00"))); // no leading zeros in the lists

    int visible = 0;
    for (int i = 0; i < bank::kButtonCount; ++i)
        visible += bank::buttonVisible(i, index) ? 1 : 0;
    QCOMPARE(visible, count);
    QVERIFY(bank::buttonVisible(count - 1, index));
    if (count < 100)
        QVERIFY(!bank::buttonVisible(count, index));
}

void TestBank::buttonsSitOnTheGrid()
{
    QCOMPARE(bank::buttonLeft(37), 6240);
    QCOMPARE(bank::buttonTop(37), 1260);
    QCOMPARE(bank::buttonLeft(0), 150);
    QCOMPARE(bank::buttonTop(99), 270 + 9 * 330);
    QCOMPARE(bank::buttonCaption(0), QStringLiteral("CH 00"));
    QCOMPARE(bank::buttonCaption(7), QStringLiteral("CH 07"));
    QCOMPARE(bank::buttonCaption(57), QStringLiteral("CH 57"));
    // Neighbours overlap by 15 twips both ways.
    QCOMPARE(bank::buttonLeft(0) + bank::kButtonWidth - bank::buttonLeft(1), 15);
    QCOMPARE(bank::buttonTop(0) + bank::kButtonHeight - bank::buttonTop(10), 15);
}

void TestBank::storedNumberGivesIndex_data()
{
    QTest::addColumn<double>("stored");
    QTest::addColumn<int>("index"); // -1: refused
    QTest::newRow("0") << 0.0 << 0;
    QTest::newRow("1") << 1.0 << 1;
    QTest::newRow("9") << 9.0 << 9;
    QTest::newRow("10 is no bank") << 10.0 << -1;
    QTest::newRow("-1 is no bank") << -1.0 << -1;
    QTest::newRow("0.5 rounds through the count") << 0.5 << 0;
    QTest::newRow("9.4") << 9.4 << 9;
    QTest::newRow("overflows 16 bits") << 3276.8 << -1;
    QTest::newRow("huge") << 1e300 << -1;
}

void TestBank::storedNumberGivesIndex()
{
    QFETCH(double, stored);
    QFETCH(int, index);
    const std::optional<int> got = bank::indexFromSetting(stored);
    QCOMPARE(got.value_or(-1), index);
}

QTEST_APPLESS_MAIN(TestBank)
#include "test_bank.moc"
