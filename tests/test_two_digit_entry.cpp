// Channels typed as two digits close together.
#include "channel/two_digit_entry.h"

#include <QtTest>

using namespace queltor;

class TestTwoDigitEntry : public QObject
{
    Q_OBJECT
private slots:
    void twoDigitsCloseTogetherMakeAChannel_data();
    void twoDigitsCloseTogetherMakeAChannel();
};

void TestTwoDigitEntry::twoDigitsCloseTogetherMakeAChannel_data()
{
    // Keys as "text@ms"; the channels completed, in order.
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QList<int>>("channels");
    QTest::newRow("5, 7") << QStringList{"5@0", "7@200"} << QList<int>{57};
    QTest::newRow("0, 7 at the limit") << QStringList{"0@0", "7@1500"} << QList<int>{7};
    QTest::newRow("too slow: the 7 starts afresh") << QStringList{"5@0", "7@1501", "2@1600"} << QList<int>{72};
    QTest::newRow("one stray digit") << QStringList{"4@0"} << QList<int>{};
    QTest::newRow("a letter between") << QStringList{"5@0", "x@10", "7@20"} << QList<int>{};
    QTest::newRow("a key without text between") << QStringList{"5@0", "@10", "7@20"} << QList<int>{};
    QTest::newRow("four digits, two channels") << QStringList{"1@0", "2@100", "3@200", "4@300"} << QList<int>{12, 34};
    QTest::newRow("a digit of another script") << QStringList{QString::fromUtf8("٣@0"), "3@10"} << QList<int>{};
}

void TestTwoDigitEntry::twoDigitsCloseTogetherMakeAChannel()
{
    QFETCH(QStringList, keys);
    QFETCH(QList<int>, channels);
    TwoDigitEntry entry;
    QList<int> made;
    for (const QString &key : keys) {
        const qsizetype at = key.lastIndexOf(QLatin1Char('@'));
        if (const std::optional<int> channel = entry.type(key.left(at), key.mid(at + 1).toLongLong()))
            made << *channel;
    }
    QCOMPARE(made, channels);
}

QTEST_APPLESS_MAIN(TestTwoDigitEntry)
#include "test_two_digit_entry.moc"
