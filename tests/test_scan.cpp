// The scan's states, its refusals, its channels tick by tick, the term as a
// timer interval, and the grid its ticks keep to.
#include "channel/scan.h"

#include <QtTest>

Q_DECLARE_METATYPE(queltor::Scan::StartOutcome)

using namespace queltor;

class TestScan : public QObject
{
    Q_OBJECT
private slots:
    void scanStatesFollowTheTable();
    void scanRefusesBadRangeAndTermWithoutChanging_data();
    void scanRefusesBadRangeAndTermWithoutChanging();
    void scanStepsAndWrapsWithCurrentTexts();
    void termBecomesInterval_data();
    void termBecomesInterval();
    void ticksKeepToTheGridFromStart();
};

void TestScan::scanStatesFollowTheTable()
{
    struct Row
    {
        Scan::Mode mode;
        bool manualFrame, autoFrame;
        const char *caption; // as the button reads it, untranslated
        bool timer, settings;
    };
    const auto check = [](const Scan &scan, const Row &row) {
        QCOMPARE(scan.mode(), row.mode);
        QCOMPARE(scan.manualFrameEnabled(), row.manualFrame);
        QCOMPARE(scan.autoFrameEnabled(), row.autoFrame);
        QCOMPARE(QString::fromLatin1(scan.caption()), QString::fromLatin1(row.caption));
        QCOMPARE(scan.timerEnabled(), row.timer);
        QCOMPARE(scan.settingsEnabled(), row.settings);
    };
    const Row manual{Scan::Mode::Manual, true, false, "Start Scan", false, true};
    const Row autoIdle{Scan::Mode::Auto, false, true, "Start Scan", false, true};
    const Row scanning{Scan::Mode::Auto, false, true, "Stop Scan", true, false};
    const Row manualHeld{Scan::Mode::Manual, true, false, "Stop Scan", false, false};
    const Row autoHeld{Scan::Mode::Auto, false, true, "Stop Scan", false, false};

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

void TestScan::scanRefusesBadRangeAndTermWithoutChanging_data()
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

void TestScan::scanRefusesBadRangeAndTermWithoutChanging()
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
    QCOMPARE(QString::fromLatin1(scan.caption()), QStringLiteral("Start Scan"));
}

void TestScan::scanStepsAndWrapsWithCurrentTexts()
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

void TestScan::termBecomesInterval_data()
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

void TestScan::termBecomesInterval()
{
    QFETCH(QString, term);
    QFETCH(int, ms);
    QCOMPARE(Scan::intervalFor(term).value_or(-1), ms);
}

void TestScan::ticksKeepToTheGridFromStart()
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

QTEST_APPLESS_MAIN(TestScan)
#include "test_scan.moc"
