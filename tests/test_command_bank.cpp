// The channel logic that needs no window: command bytes, display text, the
// bank's arithmetic, the scan's states and channels typed as two digits.
#include "channel/bank.h"
#include "channel/command.h"
#include "channel/scan.h"
#include "channel/two_digit_entry.h"

#include <QtTest>

Q_DECLARE_METATYPE(queltor::Scan::StartOutcome)

using namespace queltor;

class TestCommandBank : public QObject
{
    Q_OBJECT
private slots:
    void commandIsFiveBytes_data();
    void commandIsFiveBytes();
    void everyChannelHasItsOwnWellFormedCommand();

    void bankArithmetic_data();
    void bankArithmetic();
    void buttonsSitOnTheGrid();
    void storedNumberGivesIndex_data();
    void storedNumberGivesIndex();

    void scanStatesFollowTheTable();
    void scanRefusesBadRangeAndTermWithoutChanging_data();
    void scanRefusesBadRangeAndTermWithoutChanging();
    void scanStepsAndWrapsWithCurrentTexts();
    void termBecomesInterval_data();
    void termBecomesInterval();
    void ticksKeepToTheGridFromStart();

    void twoDigitsCloseTogetherMakeAChannel_data();
    void twoDigitsCloseTogetherMakeAChannel();
};

void TestCommandBank::commandIsFiveBytes_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("display");
    QTest::newRow("0") << 0 << QByteArray("V00\r\n") << "00";
    QTest::newRow("7") << 7 << QByteArray("V07\r\n") << "07";
    QTest::newRow("9") << 9 << QByteArray("V09\r\n") << "09";
    QTest::newRow("10") << 10 << QByteArray("V10\r\n") << "10";
    QTest::newRow("42") << 42 << QByteArray("V42\r\n") << "42";
    QTest::newRow("99") << 99 << QByteArray("V99\r\n") << "99";
}

void TestCommandBank::commandIsFiveBytes()
{
    QFETCH(int, channel);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, display);
    QCOMPARE(channelCommand(channel), bytes);
    QCOMPARE(channelDisplayText(channel), display);
}

void TestCommandBank::everyChannelHasItsOwnWellFormedCommand()
{
    QSet<QByteArray> seen;
    for (int ch = kFirstChannel; ch <= kLastChannel; ++ch) {
        const QByteArray cmd = channelCommand(ch);
        QCOMPARE(cmd.size(), 5);
        QCOMPARE(cmd.at(0), 'V');
        QCOMPARE((cmd.at(1) - '0') * 10 + (cmd.at(2) - '0'), ch);
        QCOMPARE(cmd.mid(3), QByteArray("\r\n"));
        QCOMPARE(channelDisplayText(ch).toLatin1(), cmd.mid(1, 2));
        seen.insert(cmd);
    }
    QCOMPARE(seen.size(), 100);
    QVERIFY(!isChannel(-1));
    QVERIFY(!isChannel(100));
}

void TestCommandBank::bankArithmetic_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("frame");
    QTest::newRow("10 channels") << 0 << 10 << 775;
    QTest::newRow("20 channels") << 1 << 20 << 1105;
    QTest::newRow("50 channels") << 4 << 50 << 2095;
    QTest::newRow("100 channels") << 9 << 100 << 3745;
}

void TestCommandBank::bankArithmetic()
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

void TestCommandBank::buttonsSitOnTheGrid()
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

void TestCommandBank::storedNumberGivesIndex_data()
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

void TestCommandBank::storedNumberGivesIndex()
{
    QFETCH(double, stored);
    QFETCH(int, index);
    const std::optional<int> got = bank::indexFromSetting(stored);
    QCOMPARE(got.value_or(-1), index);
}

void TestCommandBank::scanStatesFollowTheTable()
{
    struct Row
    {
        Scan::Mode mode;
        bool manualFrame, autoFrame;
        QString caption;
        bool timer, settings;
    };
    const auto check = [](const Scan &scan, const Row &row) {
        QCOMPARE(scan.mode(), row.mode);
        QCOMPARE(scan.manualFrameEnabled(), row.manualFrame);
        QCOMPARE(scan.autoFrameEnabled(), row.autoFrame);
        QCOMPARE(scan.caption(), row.caption);
        QCOMPARE(scan.timerEnabled(), row.timer);
        QCOMPARE(scan.settingsEnabled(), row.settings);
    };
    const Row manual{Scan::Mode::Manual, true, false, Scan::kStartCaption, false, true};
    const Row autoIdle{Scan::Mode::Auto, false, true, Scan::kStartCaption, false, true};
    const Row scanning{Scan::Mode::Auto, false, true, Scan::kStopCaption, true, false};
    const Row manualHeld{Scan::Mode::Manual, true, false, Scan::kStopCaption, false, false};
    const Row autoHeld{Scan::Mode::Auto, false, true, Scan::kStopCaption, false, false};

    Scan scan;
    check(scan, manual);
    scan.chooseAuto();
    check(scan, autoIdle);
    scan.chooseManual();
    check(scan, manual);
    scan.chooseAuto();
    QCOMPARE(scan.start(QStringLiteral("3"), QStringLiteral("6"), QStringLiteral("2")), Scan::StartOutcome::Started);
    check(scan, scanning);
    QCOMPARE(scan.intervalMs(), 2000);
    QCOMPARE(scan.nextChannel(), 3.0);
    scan.chooseManual();
    check(scan, manualHeld);
    scan.chooseAuto();
    check(scan, autoHeld);
    scan.chooseManual();
    check(scan, manualHeld);
    scan.chooseAuto();
    scan.stop();
    check(scan, autoIdle);
    QCOMPARE(scan.start(QStringLiteral("3"), QStringLiteral("6"), QStringLiteral("1")), Scan::StartOutcome::Started);
    scan.stop();
    check(scan, autoIdle);
}

void TestCommandBank::scanRefusesBadRangeAndTermWithoutChanging_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("term");
    QTest::addColumn<Scan::StartOutcome>("outcome");
    QTest::newRow("end below start") << "7"
                                     << "6"
                                     << "1" << Scan::StartOutcome::EndBelowStart;
    QTest::newRow("end below start wins over bad term") << "7"
                                                        << "6"
                                                        << "-5" << Scan::StartOutcome::EndBelowStart;
    QTest::newRow("negative term") << "0"
                                   << "9"
                                   << "-1" << Scan::StartOutcome::TermOutOfRange;
    QTest::newRow("just over 65.535 s") << "0"
                                        << "9"
                                        << "65.5355" << Scan::StartOutcome::TermOutOfRange;
    QTest::newRow("too large to read") << "0"
                                       << "9"
                                       << "1e309" << Scan::StartOutcome::TermOutOfRange;
}

void TestCommandBank::scanRefusesBadRangeAndTermWithoutChanging()
{
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, term);
    QFETCH(Scan::StartOutcome, outcome);
    Scan scan;
    scan.chooseAuto();
    QCOMPARE(scan.start(start, end, term), outcome);
    QVERIFY(!scan.started());
    QVERIFY(!scan.timerEnabled());
    QCOMPARE(scan.nextChannel(), 0.0);
    QCOMPARE(scan.caption(), Scan::kStartCaption);
}

void TestCommandBank::scanStepsAndWrapsWithCurrentTexts()
{
    Scan scan;
    scan.chooseAuto();
    QCOMPARE(scan.start(QStringLiteral("3"), QStringLiteral("6"), QStringLiteral("1")), Scan::StartOutcome::Started);
    QList<int> got;
    for (int tick = 0; tick < 6; ++tick) {
        got << scan.channelForTick().value_or(-1);
        scan.advance(QStringLiteral("3"), QStringLiteral("6"));
    }
    QCOMPARE(got, (QList<int>{3, 4, 5, 6, 3, 4}));

    // The lists are read afresh on every tick: with the end lowered below the
    // next channel, the wrap comes at once, to the new start.
    QCOMPARE(scan.channelForTick().value_or(-1), 5);
    scan.advance(QStringLiteral("1"), QStringLiteral("4"));
    QCOMPARE(scan.channelForTick().value_or(-1), 1);

    Scan same;
    same.chooseAuto();
    QCOMPARE(same.start(QStringLiteral("5"), QStringLiteral("5"), QStringLiteral("1")), Scan::StartOutcome::Started);
    for (int tick = 0; tick < 3; ++tick) {
        QCOMPARE(same.channelForTick().value_or(-1), 5);
        same.advance(QStringLiteral("5"), QStringLiteral("5"));
    }
}

void TestCommandBank::termBecomesInterval_data()
{
    QTest::addColumn<QString>("term");
    QTest::addColumn<int>("ms"); // -1: refused
    QTest::newRow("1") << "1" << 1000;
    QTest::newRow("1.5") << "1.5" << 1500;
    QTest::newRow("0.0004 rounds to 0") << "0.0004" << 0;
    QTest::newRow("0.0005 halves to even 0") << "0.0005" << 0;
    QTest::newRow("0.0015 halves to even 2") << "0.0015" << 2;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("not a number") << "abc" << 0;
    QTest::newRow("65.535") << "65.535" << 65535;
    QTest::newRow("65.536") << "65.536" << -1;
    QTest::newRow("-0.0004 rounds to 0") << "-0.0004" << 0;
    QTest::newRow("-0.001") << "-0.001" << -1;
    QTest::newRow("hex") << "&H2" << 2000;
    QTest::newRow("blanks inside") << " 1 . 5" << 1500;
}

void TestCommandBank::termBecomesInterval()
{
    QFETCH(QString, term);
    QFETCH(int, ms);
    QCOMPARE(Scan::intervalFor(term).value_or(-1), ms);
}

void TestCommandBank::ticksKeepToTheGridFromStart()
{
    constexpr std::int64_t ms = 1'000'000;
    ScanSchedule schedule;
    const std::int64_t t0 = 5'000 * ms;
    // Armed a millisecond early; the tick waits out the rest to its slot.
    QCOMPARE(schedule.start(t0, 100), 99);
    QCOMPARE(schedule.earlyByNs(t0 + 99 * ms + ms / 4), 3 * ms / 4);
    QCOMPARE(schedule.next(t0 + 100 * ms), 99);
    // Late by 30 ms: the next tick still falls on the grid, not 100 ms after this one.
    QCOMPARE(schedule.earlyByNs(t0 + 230 * ms), 0);
    QCOMPARE(schedule.next(t0 + 230 * ms), 69);
    // Sub-millisecond lateness never accumulates: the arming is reckoned from the grid.
    QCOMPARE(schedule.next(t0 + 300 * ms + ms / 3), 98);
    QCOMPARE(schedule.earlyByNs(t0 + 399 * ms), ms);
    QCOMPARE(schedule.next(t0 + 400 * ms + 2 * ms / 3), 98);
    // Late by more than a whole term (the slot at 500 ms handled at 730 ms): the
    // slot at 600 ms is skipped rather than sent in a burst; the grid resumes at 800 ms.
    QCOMPARE(schedule.next(t0 + 730 * ms), 69);
    QCOMPARE(schedule.earlyByNs(t0 + 799 * ms), ms);
    QCOMPARE(schedule.next(t0 + 800 * ms), 99);
    // A term of a millisecond is armed at once and waited out in the tick.
    QCOMPARE(schedule.start(t0, 1), 0);
    QCOMPARE(schedule.earlyByNs(t0), ms);
}

void TestCommandBank::twoDigitsCloseTogetherMakeAChannel_data()
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

void TestCommandBank::twoDigitsCloseTogetherMakeAChannel()
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

QTEST_APPLESS_MAIN(TestCommandBank)
#include "test_command_bank.moc"
