// The automatic scan in the real window, on a pseudo-terminal: what each tick
// sends, every state of the mode switch and Start/Stop button, and the refusals.
#include "panel.h"

#include <QGroupBox>
#include <QMenu>

using namespace queltor;

namespace {

// The panel and the state of its scan controls.
class ScanPanel : public Panel
{
public:
    // The enabled state of everything the state table names.
    struct State
    {
        bool manualMode, manualFrame, autoFrame;
        QString caption;
        bool timerOn, settings;
    };

    void expect(const State &s) const
    {
        QCOMPARE(child<QRadioButton>(QStringLiteral("optMan"))->isChecked(), s.manualMode);
        QCOMPARE(child<QRadioButton>(QStringLiteral("optAuto"))->isChecked(), !s.manualMode);
        QCOMPARE(child<QGroupBox>(QStringLiteral("fraMan"))->isEnabled(), s.manualFrame);
        QCOMPARE(child<QGroupBox>(QStringLiteral("fraAuto"))->isEnabled(), s.autoFrame);
        QCOMPARE(startStop()->text(), s.caption);
        QCOMPARE(timer()->isActive(), s.timerOn);
        QCOMPARE(window->scan().timerEnabled(), s.timerOn);
        // The lists and the term box, apart from the frame around them.
        auto *frame = child<QGroupBox>(QStringLiteral("fraAuto"));
        for (QWidget *input :
             {static_cast<QWidget *>(startList()), static_cast<QWidget *>(endList()), static_cast<QWidget *>(term())})
            QCOMPARE(input->isEnabledTo(frame), s.settings);
        QCOMPARE(child<QMenu>(QStringLiteral("mnuChannel"))->menuAction()->isEnabled(), s.settings);
        QCOMPARE(child<QMenu>(QStringLiteral("mnuComm"))->menuAction()->isEnabled(), s.settings);
    }
};

const ScanPanel::State kManual{true, true, false, QStringLiteral("Start Scan"), false, true};
const ScanPanel::State kAutoIdle{false, false, true, QStringLiteral("Start Scan"), false, true};
const ScanPanel::State kScanning{false, false, true, QStringLiteral("Stop Scan"), true, false};
const ScanPanel::State kManualHeld{true, true, false, QStringLiteral("Stop Scan"), false, false};
const ScanPanel::State kAutoHeld{false, false, true, QStringLiteral("Stop Scan"), false, false};

} // namespace

class TestScanWindow : public QObject
{
    Q_OBJECT
private slots:
    void scanStepsThroughRangeAndWraps();
    void scanOfOneChannelRepeatsIt();
    void startAndStopSendNothingAndRestartFromStart();
    void ticksReadTheListsAfresh();
    void termOfZeroArmsButNeverFires_data();
    void termOfZeroArmsButNeverFires();
    void termOutOfRangeIsRefusedWithoutChange_data();
    void termOutOfRangeIsRefusedWithoutChange();
    void endBelowStartIsRefused();
    void everyStateAndTransitionOfTheTable();
    void failingTickStopsScanAndReportsOnce();
    void exitDuringScanSendsNothingMore();
};

void TestScanWindow::scanStepsThroughRangeAndWraps()
{
    ScanPanel panel;
    panel.start();
    panel.chooseAuto();
    panel.setUp(3, 6, QStringLiteral("0.02"));
    panel.pressStartStop();
    QCOMPARE(panel.window->scan().intervalMs(), 20);
    QVERIFY(panel.timer()->isActive() && panel.timer()->interval() <= 20);
    QCOMPARE(panel.com1.read(30, 1000), commands({3, 4, 5, 6, 3, 4}));
    QCOMPARE(panel.display()->text(), QStringLiteral("04"));
    QCOMPARE(panel.boldButtons(), QList<int>{4});
    QCOMPARE(panel.messages.count(), 0);
}

void TestScanWindow::scanOfOneChannelRepeatsIt()
{
    ScanPanel panel;
    panel.start();
    panel.chooseAuto();
    panel.setUp(5, 5, QStringLiteral("0.02"));
    panel.pressStartStop();
    QCOMPARE(panel.com1.read(20, 1000), commands({5, 5, 5, 5}));
}

void TestScanWindow::startAndStopSendNothingAndRestartFromStart()
{
    ScanPanel panel;
    panel.start();
    panel.chooseAuto();
    panel.setUp(10, 19, QStringLiteral("0.3"));
    panel.pressStartStop();
    // Within the first term nothing goes out: the first selection is the first tick's.
    QCOMPARE(panel.com1.read(5, 200), QByteArray());
    QCOMPARE(panel.com1.read(10, 700), commands({10, 11}));
    panel.pressStartStop();
    QCOMPARE(panel.com1.readAll(400), QByteArray());
    panel.term()->setText(QStringLiteral("0.02"));
    panel.pressStartStop();
    QCOMPARE(panel.com1.read(10, 1000), commands({10, 11}));
}

void TestScanWindow::ticksReadTheListsAfresh()
{
    ScanPanel panel;
    panel.start();
    panel.chooseAuto();
    panel.setUp(0, 9, QStringLiteral("0.05"));
    panel.pressStartStop();
    QCOMPARE(panel.com1.read(10, 1000), commands({0, 1}));
    // Lists are locked for the operator, but the ticks read whatever they hold now.
    panel.startList()->setCurrentIndex(7);
    panel.endList()->setCurrentIndex(3);
    QCOMPARE(panel.com1.read(15, 1000), commands({2, 3, 7}));
}

void TestScanWindow::termOfZeroArmsButNeverFires_data()
{
    QTest::addColumn<QString>("term");
    QTest::newRow("0") << "0";
    QTest::newRow("0.0004") << "0.0004";
    QTest::newRow("empty") << "";
    QTest::newRow("not a number") << "abc";
}

void TestScanWindow::termOfZeroArmsButNeverFires()
{
    QFETCH(QString, term);
    ScanPanel panel;
    panel.start();
    panel.chooseAuto();
    panel.setUp(0, 9, term);
    panel.pressStartStop();
    QCOMPARE(panel.window->scan().intervalMs(), 0);
    QCOMPARE(panel.com1.read(5, 300), QByteArray());
    QCOMPARE(panel.startStop()->text(), QStringLiteral("Stop Scan"));
    QVERIFY(panel.window->scan().timerEnabled());
    QVERIFY(!panel.term()->isEnabled());
    panel.pressStartStop();
    panel.expect(kAutoIdle);
}

void TestScanWindow::termOutOfRangeIsRefusedWithoutChange_data()
{
    QTest::addColumn<QString>("term");
    QTest::newRow("negative") << "-1";
    QTest::newRow("over 65.535 s") << "65.536";
    QTest::newRow("too large to read") << "1e309";
    QTest::newRow("huge hex") << "&HFFFFFFFFFFFFFFFF";
}

void TestScanWindow::termOutOfRangeIsRefusedWithoutChange()
{
    QFETCH(QString, term);
    ScanPanel panel;
    panel.start();
    panel.chooseAuto();
    panel.setUp(2, 8, term);
    panel.pressStartStop();
    QCOMPARE(panel.messages.count(), 1);
    const MessageCatcher::Box box = panel.messages.boxes().first();
    QCOMPARE(box.title, QStringLiteral("Scan Term Error"));
    QCOMPARE(box.text, QStringLiteral("Set Scan Term between 0 and 65.535 sec..."));
    QCOMPARE(box.icon, QMessageBox::Information);
    // The focus goes to the term once the box is closed.
    QVERIFY(panel.window->focusWidget() != panel.term());
    QTRY_COMPARE(panel.window->focusWidget(), panel.term());
    panel.expect(kAutoIdle);
    QCOMPARE(panel.window->scan().nextChannel(), 0.0);
    QCOMPARE(panel.com1.readAll(200), QByteArray());
}

void TestScanWindow::endBelowStartIsRefused()
{
    ScanPanel panel;
    panel.start();
    panel.chooseAuto();
    panel.setUp(8, 7, QStringLiteral("0.02"));
    panel.startStop()->setFocus();
    panel.pressStartStop();
    QCOMPARE(panel.messages.count(), 1);
    QCOMPARE(panel.messages.boxes().first().title, QStringLiteral("Channel Error"));
    QCOMPARE(panel.messages.boxes().first().text, QStringLiteral("Set Start CH less than End CH..."));
    QCOMPARE(panel.messages.boxes().first().icon, QMessageBox::Information);
    // The focus goes to the start list once the box is closed.
    const auto onStartList = [&panel] {
        QWidget *focused = panel.window->focusWidget();
        return focused == panel.startList() || focused == panel.startList()->lineEdit();
    };
    QVERIFY(!onStartList());
    QTRY_VERIFY(onStartList());
    panel.expect(kAutoIdle);
    QCOMPARE(panel.startList()->currentText(), QStringLiteral("8"));
    QCOMPARE(panel.endList()->currentText(), QStringLiteral("7"));
    QCOMPARE(panel.com1.readAll(200), QByteArray());

    // Equal ends are a range of one.
    panel.endList()->setCurrentIndex(8);
    panel.pressStartStop();
    panel.expect(kScanning);
}

void TestScanWindow::everyStateAndTransitionOfTheTable()
{
    ScanPanel panel;
    panel.start();
    panel.expect(kManual);
    panel.chooseAuto();
    panel.expect(kAutoIdle);
    panel.chooseManual();
    panel.expect(kManual);
    panel.chooseAuto();
    panel.setUp(1, 2, QStringLiteral("0.05"));
    panel.pressStartStop();
    panel.expect(kScanning);
    QCOMPARE(panel.com1.read(5, 500), commands({1}));

    // Manual holds the scan: the timer stops, the buttons work, nothing else is released.
    panel.chooseManual();
    panel.expect(kManualHeld);
    QCOMPARE(panel.com1.readAll(200), QByteArray());
    panel.click(9);
    QCOMPARE(panel.com1.readAll(), commands({9}));

    panel.chooseAuto();
    panel.expect(kAutoHeld);
    QCOMPARE(panel.com1.readAll(200), QByteArray());
    panel.chooseManual();
    panel.expect(kManualHeld);
    panel.chooseAuto();
    panel.expect(kAutoHeld);

    // Stop Scan releases everything.
    panel.pressStartStop();
    panel.expect(kAutoIdle);
    QCOMPARE(panel.com1.readAll(200), QByteArray());

    // While Auto, the channel buttons do not respond.
    panel.click(4);
    QCOMPARE(panel.com1.readAll(), QByteArray());
    QCOMPARE(panel.messages.count(), 0);
}

void TestScanWindow::failingTickStopsScanAndReportsOnce()
{
    ScanPanel panel;
    panel.start();
    panel.chooseAuto();
    panel.setUp(0, 19, QStringLiteral("0.005"));
    panel.pressStartStop();
    QCOMPARE(panel.com1.read(10, 1000), commands({0, 1}));
    panel.com1.closeMaster(); // the device is unplugged mid-scan
    QTRY_COMPARE(panel.messages.count(), 1);
    QTest::qWait(100);
    QCOMPARE(panel.messages.count(), 1);
    QVERIFY2(panel.messages.lastText().contains(QStringLiteral("COM1")), qPrintable(panel.messages.lastText()));
    panel.expect(kAutoIdle);
    QVERIFY(panel.window->isVisible());
}

void TestScanWindow::exitDuringScanSendsNothingMore()
{
    ScanPanel panel;
    panel.start();
    panel.chooseAuto();
    panel.setUp(0, 19, QStringLiteral("0.02"));
    panel.pressStartStop();
    QCOMPARE(panel.com1.read(5, 1000), commands({0}));
    panel.choose(QStringLiteral("mnuFileExit"));
    QVERIFY(!panel.timer()->isActive());
    QVERIFY(!panel.window->port().portOpen());
    QCOMPARE(panel.com1.readAll(300), QByteArray());
}

QTEST_MAIN(TestScanWindow)
#include "test_scan_window.moc"
