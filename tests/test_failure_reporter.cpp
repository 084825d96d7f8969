// How failures reach the operator in the real window: one box per condition,
// taken over rather than stacked, gone when its condition clears, and none
// before the window is on screen.
#include "panel.h"

#include "shell/failure_reporter.h"

#include <QFile>

using namespace queltor;

namespace {

// COM1 on a link to a pty that can be pulled out and plugged back in, as a
// by-id link leads to a USB adapter.
class PluggedPanel : public Panel
{
public:
    PluggedPanel()
    {
        pointLink(link, device->slavePath());
        config.mapPort(1, link);
    }

    void unplug()
    {
        QFile::remove(link);
        device->closeMaster();
    }
    bool replug()
    {
        device = std::make_unique<Pty>();
        return pointLink(link, device->slavePath());
    }
    bool connected() const { return window->port().state().kind == LinkState::Kind::Connected; }

    QString link = config.path() + QStringLiteral("/ttyDEVICE");
    std::unique_ptr<Pty> device = std::make_unique<Pty>();
};

} // namespace

class TestFailureReporter : public QObject
{
    Q_OBJECT
private slots:
    void oneBoxPerKindTakenOverNotStacked();
    void boxesWaitForTheWindow();
    void unplugsNeverStackBoxes();
    void linkBoxClosesOnReconnect();
};

void TestFailureReporter::oneBoxPerKindTakenOverNotStacked()
{
    QWidget window;
    window.show();
    FailureReporter reporter(&window);
    MessageCatcher messages;
    messages.pause();
    int closedByOperator = 0;
    reporter.report(Failure(Failure::Kind::Port, QStringLiteral("first")));
    reporter.report(Failure(Failure::Kind::NotSaved, QStringLiteral("saved"), QStringLiteral("no room")));
    reporter.report(Failure(Failure::Kind::Port, QStringLiteral("second"), {}, QStringLiteral("Try again.")),
                    [&] { ++closedByOperator; });
    QCOMPARE(MessageCatcher::open().size(), 2);
    QCOMPARE(messages.texts(), (QStringList{QStringLiteral("second. Try again."), QStringLiteral("saved: no room.")}));
    for (QMessageBox *box : MessageCatcher::open()) {
        // Over the window, which takes no input meanwhile, and no loop of its own: report() returned.
        QCOMPARE(box->parentWidget(), &window);
        QCOMPARE(box->windowModality(), Qt::WindowModal);
    }

    // Withdrawn, a box goes without running what follows the operator's close.
    reporter.withdraw(Failure::Kind::Port);
    QCOMPARE(MessageCatcher::open().size(), 1);
    QCOMPARE(closedByOperator, 0);
    // A box the operator closed is not reused: the next failure of its kind opens one.
    reporter.report(Failure(Failure::Kind::Port, QStringLiteral("third")), [&] { ++closedByOperator; });
    for (QMessageBox *box : MessageCatcher::open()) {
        if (box->text() == QLatin1String("third."))
            box->button(QMessageBox::Ok)->click();
    }
    QCOMPARE(closedByOperator, 1);
    reporter.report(Failure(Failure::Kind::Port, QStringLiteral("fourth")));
    QCOMPARE(messages.count(), 4);
    QTRY_COMPARE(MessageCatcher::open().size(), 2);
}

void TestFailureReporter::boxesWaitForTheWindow()
{
    Panel panel;
    panel.config.mapPort(1, panel.config.path() + QStringLiteral("/unplugged"));
    panel.config.setValue(QStringLiteral("Settings"), QStringLiteral("ChNum"), QStringLiteral("x"));
    panel.window = std::make_unique<frmMain>();
    panel.window->Form_Load();
    QCOMPARE(panel.messages.count(), 0);
    panel.window->show();
    QCOMPARE(panel.messages.count(), 0); // not while the window is being shown
    QTRY_COMPARE(panel.messages.count(), 2);
    // Each in a box of its own over the window; the operator reads both.
    QStringList texts = panel.messages.texts();
    texts.sort();
    QVERIFY2(texts.at(0).contains(QStringLiteral(") could not be opened: the device does not exist.")),
             qPrintable(texts.at(0)));
    QVERIFY2(texts.at(1).startsWith(QStringLiteral("The stored setting ChNum (\"x\") is not used")),
             qPrintable(texts.at(1)));
}

// Each unplug while a box of another kind is up, and each refused click
// meanwhile, shows in the one box about the link; it never stacks.
void TestFailureReporter::unplugsNeverStackBoxes()
{
    PluggedPanel panel;
    panel.messages.pause();
    panel.start();
    panel.chooseAuto();
    panel.setUp(5, 3, QStringLiteral("1"));
    panel.pressStartStop(); // "Channel Error", left open
    panel.chooseManual();
    QCOMPARE(MessageCatcher::open().size(), 1);
    for (int unplug = 0; unplug < 20; ++unplug) {
        panel.unplug();
        QTRY_VERIFY(!panel.connected());
        QTRY_COMPARE(MessageCatcher::open().size(), 2);
        panel.click(unplug % 10);
        QCOMPARE(MessageCatcher::open().size(), 2);
        QVERIFY(panel.replug());
        QTRY_VERIFY(panel.connected());
        QCOMPARE(MessageCatcher::open().size(), 1);
    }
    // One box for the range, then one per unplug: each opened after the last had gone.
    QCOMPARE(panel.messages.count(), 21);
    QCOMPARE(MessageCatcher::open().constFirst()->windowTitle(), QStringLiteral("Channel Error"));
}

void TestFailureReporter::linkBoxClosesOnReconnect()
{
    PluggedPanel panel;
    panel.messages.pause();
    panel.start();
    panel.unplug();
    QTRY_COMPARE(MessageCatcher::open().size(), 1);
    QCOMPARE(panel.messages.lastText(),
             QStringLiteral("COM1 (%1) was closed: the device has gone away. The panel reconnects by itself when the "
                            "device is back.")
                 .arg(panel.link));
    QVERIFY(panel.replug());
    QTRY_VERIFY(panel.connected());
    QVERIFY(MessageCatcher::open().isEmpty());
    panel.click(7);
    QCOMPARE(panel.device->readAll(), commands({7}));
}

QTEST_MAIN(TestFailureReporter)
#include "test_failure_reporter.moc"
