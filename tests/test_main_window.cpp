// The real window on a pseudo-terminal: what a click puts on the wire, what the
// display shows, how a bank change reshapes the window, and how failures end.
#include "panel.h"

#include "channel/bank.h"
#include "shell/frame_box.h"
#include "shell/twips.h"

#include <QClipboard>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QStatusBar>

#include <termios.h>

using namespace queltor;

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void clicksPutExactlyFiveBytesOnTheWire_data();
    void clicksPutExactlyFiveBytesOnTheWire();
    void lineSettingsAreNineSixHundredEightNOne();
    void startUpAndBankChangesSendNothing();
    void reselectingSendsAgainAndKeepsDisplay();
    void displayIsCentredAndOneButtonIsBold();
    void boldMarkSurvivesHiddenRows();

    void bankShapesWindow_data();
    void bankShapesWindow();
    void bankIsSavedBeforeListsChange();
    void windowIsFixedAndCentredVertically();
    void initialStateIsManual();

    void framesLookAsTheStyleDrawsThem_data();
    void framesLookAsTheStyleDrawsThem();
    void listsTakeNoTyping_data();
    void listsTakeNoTyping();

    void failedWriteLeavesDisplayAlone();
    void writeToClosedPortIsReportedAndSurvived();
    void exitClosesPortAndStopsTimer();
};

void TestMainWindow::clicksPutExactlyFiveBytesOnTheWire_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("0") << 0 << QByteArray("V00\r\n");
    QTest::newRow("9") << 9 << QByteArray("V09\r\n");
    QTest::newRow("10") << 10 << QByteArray("V10\r\n");
    QTest::newRow("42") << 42 << QByteArray("V42\r\n");
    QTest::newRow("99") << 99 << QByteArray("V99\r\n");
}

void TestMainWindow::clicksPutExactlyFiveBytesOnTheWire()
{
    QFETCH(int, channel);
    QFETCH(QByteArray, bytes);
    Panel panel;
    panel.config.setValue(QStringLiteral("Settings"), QStringLiteral("ChNum"), QStringLiteral("9"));
    panel.start();
    panel.click(channel);
    QCOMPARE(panel.com1.readAll(), bytes);
    QCOMPARE(panel.display()->text(), QString::fromLatin1(bytes.mid(1, 2)));
    QCOMPARE(panel.com2.readAll(), QByteArray());
    QCOMPARE(panel.messages.count(), 0);
}

void TestMainWindow::lineSettingsAreNineSixHundredEightNOne()
{
    Panel panel;
    panel.start();
    QVERIFY(panel.window->port().portOpen());
    const termios t = panel.com1.slaveSettings();
    QCOMPARE(cfgetospeed(&t), speed_t(B9600));
    QCOMPARE(cfgetispeed(&t), speed_t(B9600));
    QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(t.c_cflag & PARENB, tcflag_t(0));
    QCOMPARE(t.c_cflag & CSTOPB, tcflag_t(0));
    // No output processing: LF must not grow a CR in front of it.
    QCOMPARE(t.c_oflag & OPOST, tcflag_t(0));
}

void TestMainWindow::startUpAndBankChangesSendNothing()
{
    Panel panel;
    panel.start();
    for (const char *entry : {"mnuChNum(0)", "mnuChNum(9)", "mnuChNum(4)", "mnuChNum(4)"})
        panel.choose(QString::fromLatin1(entry));
    QCOMPARE(panel.com1.readAll(), QByteArray());
    QCOMPARE(panel.display()->text(), QStringLiteral("00"));
    QVERIFY(panel.boldButtons().isEmpty());
}

void TestMainWindow::reselectingSendsAgainAndKeepsDisplay()
{
    Panel panel;
    panel.start();
    panel.click(7);
    panel.click(7);
    panel.click(7);
    QCOMPARE(panel.com1.readAll(), QByteArray("V07\r\nV07\r\nV07\r\n"));
    QCOMPARE(panel.display()->text(), QStringLiteral("07"));
    QCOMPARE(panel.boldButtons(), QList<int>{7});
}

void TestMainWindow::displayIsCentredAndOneButtonIsBold()
{
    Panel panel;
    panel.config.setValue(QStringLiteral("Settings"), QStringLiteral("ChNum"), QStringLiteral("9"));
    panel.start();
    const int frameWidth = panel.child<QGroupBox>(QStringLiteral("fraCh"))->width();
    QCOMPARE(frameWidth, 83);
    for (int channel : {0, 1, 11, 7, 44, 88, 99, 7}) {
        panel.click(channel);
        QLabel *label = panel.display();
        QCOMPARE(label->text(), QStringLiteral("%1").arg(channel, 2, 10, QLatin1Char('0')));
        QCOMPARE(label->width(), label->sizeHint().width());
        // Left edge (frame - width) / 2, to the pixel grid.
        QVERIFY2(qAbs(2 * label->x() - (frameWidth - label->width())) <= 1,
                 qPrintable(QStringLiteral("x=%1 w=%2").arg(label->x()).arg(label->width())));
        QCOMPARE(panel.boldButtons(), QList<int>{channel});
    }
    QCOMPARE(panel.com1.readAll().size(), 8 * 5);
    const QColor ink = panel.display()->palette().color(QPalette::WindowText);
    QCOMPARE(ink, QColor(0, 128, 0));
    QVERIFY(panel.display()->font().bold());
    QCOMPARE(panel.display()->font().pointSize(), 30);
}

void TestMainWindow::boldMarkSurvivesHiddenRows()
{
    Panel panel;
    panel.config.setValue(QStringLiteral("Settings"), QStringLiteral("ChNum"), QStringLiteral("9"));
    panel.start();
    panel.click(57);
    panel.choose(QStringLiteral("mnuChNum(1)"));
    QVERIFY(panel.button(57)->isHidden());
    QCOMPARE(panel.display()->text(), QStringLiteral("57"));
    QCOMPARE(panel.boldButtons(), QList<int>{57});
    // A click on a visible button moves the mark off the hidden one.
    panel.click(3);
    QCOMPARE(panel.boldButtons(), QList<int>{3});
    QCOMPARE(panel.com1.readAll(), QByteArray("V57\r\nV03\r\n"));
}

// The original window is 2775 + 330k twips high for bank k: that height is
// its outer one, the title bar, borders and menu bar it had (680 twips) over a
// client area of 2095 + 330k, which holds fraMan's top edge, its height and
// the 120 twips the client as built (5085) leaves below it. Here the window
// manager draws the title bar and borders outside the window, and the window
// holds the menu bar, the client area and a status bar the original lacks. So
// the client area keeps the original's twips, and the window's own height is
// the original's outer height less those 680 twips, plus the menu bar and the
// status bar at the desktop's font.
void TestMainWindow::bankShapesWindow_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("clientTwips");
    QTest::addColumn<int>("originalHeightTwips");
    QTest::newRow("10 channels") << 0 << 2095 << 2775;
    QTest::newRow("20 channels") << 1 << 2425 << 3105;
    QTest::newRow("50 channels") << 4 << 3415 << 4095;
    QTest::newRow("100 channels") << 9 << 5065 << 5745;
}

void TestMainWindow::bankShapesWindow()
{
    QFETCH(int, index);
    QFETCH(int, clientTwips);
    QFETCH(int, originalHeightTwips);
    Panel panel;
    panel.start();
    auto *start = panel.child<QComboBox>(QStringLiteral("cboStart"));
    auto *end = panel.child<QComboBox>(QStringLiteral("cboEnd"));
    start->setCurrentIndex(5);
    end->setCurrentIndex(6);
    panel.choose(QStringLiteral("mnuChNum(%1)").arg(index));

    const int count = (index + 1) * 10;
    QCOMPARE(panel.window->channelCount(), count);
    QCOMPARE(panel.config.value(QStringLiteral("Settings"), QStringLiteral("ChNum")), QString::number(index));
    for (int i = 0; i < 100; ++i) {
        QCOMPARE(panel.button(i)->text(), QStringLiteral("CH %1").arg(i, 2, 10, QLatin1Char('0')));
        QCOMPARE(panel.button(i)->isHidden(), i >= count);
    }
    for (QComboBox *list : {start, end}) {
        QCOMPARE(list->count(), count);
        QCOMPARE(list->itemText(0), QStringLiteral("0"));
        QCOMPARE(list->itemText(count - 1), QString::number(count - 1));
    }
    QCOMPARE(start->currentText(), QStringLiteral("0"));
    QCOMPARE(end->currentText(), QString::number(count - 1));
    for (int k = 0; k < 10; ++k)
        QCOMPARE(panel.action(QStringLiteral("mnuChNum(%1)").arg(k))->isChecked(), k == index);

    auto *frame = panel.child<QGroupBox>(QStringLiteral("fraMan"));
    QCOMPARE(frame->height(), qRound((775 + 330 * index) / 15.0));

    // Every visible button lies wholly inside the frame, the frame inside the window,
    // with the same margin below the last row whatever the bank.
    QWidget *client = panel.window->centralWidget();
    const QRect last = panel.button(count - 1)->geometry();
    QCOMPARE(frame->height() - last.bottom(), qRound(775 / 15.0) - qRound((270 + 345) / 15.0) + 1);
    QCOMPARE(client->height(), twips::toPixels(clientTwips));
    QCOMPARE(panel.window->height(),
             twips::toPixels(originalHeightTwips - 680) + panel.window->menuBar()->height()
                 + panel.window->statusBar()->height());
    QCOMPARE(client->y(), panel.window->menuBar()->height());
    QCOMPARE(panel.window->statusBar()->y(), client->geometry().bottom() + 1);
    QCOMPARE(panel.window->windowTitle(), QStringLiteral("QUELTOR"));
}

void TestMainWindow::bankIsSavedBeforeListsChange()
{
    Panel panel;
    panel.start();
    auto *start = panel.child<QComboBox>(QStringLiteral("cboStart"));
    QString savedWhenListsCleared;
    QObject::connect(start->model(), &QAbstractItemModel::rowsAboutToBeRemoved, panel.window.get(), [&] {
        savedWhenListsCleared = panel.config.value(QStringLiteral("Settings"), QStringLiteral("ChNum"));
    });
    panel.choose(QStringLiteral("mnuChNum(6)"));
    QCOMPARE(savedWhenListsCleared, QStringLiteral("6"));
}

void TestMainWindow::windowIsFixedAndCentredVertically()
{
    Panel panel;
    panel.start();
    frmMain &window = *panel.window;
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(window.centralWidget()->width(), 9195 / 15);

    // Shown at the centre of the screen, frame included, as a bank change centres it.
    const QRect screen = window.screen()->geometry();
    QVERIFY(window.frameGeometry().size() != window.size());
    QVERIFY(qAbs(window.frameGeometry().center().x() - screen.center().x()) <= 1);
    QVERIFY(qAbs(window.frameGeometry().center().y() - screen.center().y()) <= 1);

    const int left = window.x();
    for (int index : {0, 9, 3}) {
        panel.choose(QStringLiteral("mnuChNum(%1)").arg(index));
        const QRect screen = window.screen()->geometry();
        const int outer = window.frameGeometry().height();
        QVERIFY2(qAbs(window.frameGeometry().top() - (screen.top() + (screen.height() - outer) / 2)) <= 1,
                 qPrintable(
                     QStringLiteral("top %1 outer %2 screen %3").arg(window.y()).arg(outer).arg(screen.height())));
        QCOMPARE(window.x(), left);
    }
}

void TestMainWindow::initialStateIsManual()
{
    Panel panel;
    panel.start();
    QCOMPARE(panel.window->windowTitle(), QStringLiteral("QUELTOR"));
    QCOMPARE(panel.window->windowIcon().pixmap(32, 32).size(), QSize(32, 32));
    QVERIFY(panel.child<QRadioButton>(QStringLiteral("optMan"))->isChecked());
    QVERIFY(!panel.child<QRadioButton>(QStringLiteral("optAuto"))->isChecked());
    QVERIFY(!panel.child<QGroupBox>(QStringLiteral("fraAuto"))->isEnabled());
    QVERIFY(panel.child<QGroupBox>(QStringLiteral("fraMan"))->isEnabled());
    QCOMPARE(panel.child<QPushButton>(QStringLiteral("cmdAuto"))->text(), QStringLiteral("Start Scan"));
    QCOMPARE(panel.child<QLineEdit>(QStringLiteral("txtTerm"))->text(), QStringLiteral("1"));
    QVERIFY(!panel.child<QTimer>(QStringLiteral("tmrScan"))->isActive());
    QCOMPARE(panel.button(37)->geometry().topLeft(), QPoint(6240 / 15, 1260 / 15));
    // Where the table puts the options, at least as wide; wider where the caption needs it (test_fit).
    const auto *optAuto = panel.child<QRadioButton>(QStringLiteral("optAuto"));
    const auto *optMan = panel.child<QRadioButton>(QStringLiteral("optMan"));
    QCOMPARE(optAuto->geometry().topLeft(), QPoint(210 / 15, 60 / 15));
    QCOMPARE(optMan->geometry().topLeft(), QPoint(210 / 15, 1200 / 15));
    QCOMPARE(optAuto->height(), 225 / 15);
    QCOMPARE(optMan->height(), 225 / 15);
    QVERIFY(optAuto->width() >= 675 / 15);
    QVERIFY(optMan->width() >= 945 / 15);

    const QStringList menuBar{QStringLiteral("&File"), QStringLiteral("&Set"), QStringLiteral("&Help")};
    QStringList titles;
    for (QAction *a : panel.window->menuBar()->actions())
        titles << a->text();
    QCOMPARE(titles, menuBar);
    QCOMPARE(panel.action(QStringLiteral("mnuFileExit"))->text(), QStringLiteral("E&xit"));
    QCOMPARE(panel.action(QStringLiteral("mnuCom1"))->text(), QStringLiteral("com&1"));
    QCOMPARE(panel.action(QStringLiteral("mnuCom2"))->text(), QStringLiteral("com&2"));
    QCOMPARE(panel.action(QStringLiteral("mnuChNum(0)"))->text(), QStringLiteral("&10"));
    QCOMPARE(panel.action(QStringLiteral("mnuChNum(9)"))->text(), QStringLiteral("10&0"));
    QCOMPARE(panel.action(QStringLiteral("mnuAbout"))->text(), QStringLiteral("&About"));
    QCOMPARE(panel.child<QMenu>(QStringLiteral("mnuComm"))->title(), QStringLiteral("Serial &Port"));
    QCOMPARE(panel.child<QMenu>(QStringLiteral("mnuChannel"))->title(), QStringLiteral("&Channel Count"));
}

// Equal but for the last bit of blending: a frame blended onto a transparent
// picture first and then onto the window rounds its half-covered edge pixels
// once more than one drawn on the window directly.
static bool sameToRounding(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y);
            const QColor q = b.pixelColor(x, y);
            if (qAbs(p.red() - q.red()) > 1 || qAbs(p.green() - q.green()) > 1 || qAbs(p.blue() - q.blue()) > 1)
                return false;
        }
    }
    return true;
}

void TestMainWindow::framesLookAsTheStyleDrawsThem_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("untitled") << QString() << true;
    QTest::newRow("untitled, disabled") << QString() << false;
    QTest::newRow("titled") << QStringLiteral("Channel") << true;
    QTest::newRow("titled, disabled") << QStringLiteral("Channel") << false;
}

// The frame drawn once and copied looks exactly like the style's own, also
// after its look has changed and when only part of it is repainted.
void TestMainWindow::framesLookAsTheStyleDrawsThem()
{
    QFETCH(QString, title);
    QFETCH(bool, enabled);
    QWidget window;
    window.resize(400, 200);
    QGroupBox plain(title, &window);
    FrameBox copied(title, &window);
    for (QGroupBox *box : {static_cast<QGroupBox *>(&plain), static_cast<QGroupBox *>(&copied)}) {
        box->setGeometry(10, 10, 380, 180);
        box->setEnabled(!enabled);
        (void)box->grab(); // drawn once in the other state
        box->setEnabled(enabled);
    }
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (const QRect &part : {copied.rect(), QRect(50, 40, 61, 24), QRect(300, 150, 80, 30)}) {
        const QString where =
            QStringLiteral("%1,%2 %3x%4").arg(part.x()).arg(part.y()).arg(part.width()).arg(part.height());
        QVERIFY2(sameToRounding(copied.grab(part).toImage(), plain.grab(part).toImage()), qPrintable(where));
    }
}

void TestMainWindow::listsTakeNoTyping_data()
{
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<QString>("text"); // cboStart's text afterwards
    QTest::addColumn<bool>("popupOpen");
    QTest::addColumn<bool>("focusStays");
    QTest::newRow("digits") << QKeySequence(QStringLiteral("5, 7")) << "3" << false << true;
    QTest::newRow("letter") << QKeySequence(QStringLiteral("X")) << "3" << false << true;
    QTest::newRow("Backspace") << QKeySequence(Qt::Key_Backspace) << "3" << false << true;
    QTest::newRow("Delete") << QKeySequence(Qt::Key_Delete) << "3" << false << true;
    QTest::newRow("paste") << QKeySequence(QKeySequence::Paste) << "3" << false << true;
    QTest::newRow("cut") << QKeySequence(QKeySequence::Cut) << "3" << false << true;
    QTest::newRow("Home") << QKeySequence(Qt::Key_Home) << "3" << false << true;
    QTest::newRow("Down") << QKeySequence(Qt::Key_Down) << "4" << false << true;
    QTest::newRow("Up, Up") << QKeySequence(QStringLiteral("Up, Up")) << "1" << false << true;
    QTest::newRow("F4 opens the list") << QKeySequence(Qt::Key_F4) << "3" << true << true;
    QTest::newRow("Tab moves on") << QKeySequence(Qt::Key_Tab) << "3" << false << false;
}

void TestMainWindow::listsTakeNoTyping()
{
    QFETCH(QKeySequence, keys);
    QFETCH(QString, text);
    QFETCH(bool, popupOpen);
    QFETCH(bool, focusStays);
    QGuiApplication::clipboard()->setText(QStringLiteral("42"));

    Panel panel;
    panel.start();
    panel.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(panel.window.get()));
    QTest::mouseClick(panel.child<QRadioButton>(QStringLiteral("optAuto")), Qt::LeftButton);
    auto *start = panel.child<QComboBox>(QStringLiteral("cboStart"));
    start->setCurrentIndex(3);
    start->setFocus();
    QVERIFY(start->hasFocus());

    for (int i = 0; i < keys.count(); ++i) {
        const QKeyCombination key = keys[i];
        QTest::keyClick(QApplication::focusWidget(), key.key(), key.keyboardModifiers());
    }
    QCOMPARE(start->currentText(), text);
    QCOMPARE(start->lineEdit()->text(), text);
    QCOMPARE(start->count(), 20);
    QCOMPARE(QApplication::activePopupWidget() != nullptr, popupOpen);
    start->hidePopup();
    QCOMPARE(start->hasFocus(), focusStays);
}

void TestMainWindow::failedWriteLeavesDisplayAlone()
{
    Panel panel;
    panel.start();
    panel.click(12);
    QCOMPARE(panel.com1.readAll(), QByteArray("V12\r\n"));
    panel.com1.closeMaster(); // the device is unplugged
    panel.click(5);
    QCOMPARE(panel.messages.count(), 1);
    QCOMPARE(panel.messages.boxes().first().title, QStringLiteral("QUELTOR"));
    QCOMPARE(panel.messages.boxes().first().icon, QMessageBox::Warning);
    QVERIFY2(panel.messages.lastText().contains(QStringLiteral("COM1 (%1)").arg(panel.com1.slavePath())),
             qPrintable(panel.messages.lastText()));
    QCOMPARE(panel.display()->text(), QStringLiteral("12"));
    QCOMPARE(panel.boldButtons(), QList<int>{12});
    QVERIFY(panel.window->isVisible());
}

void TestMainWindow::writeToClosedPortIsReportedAndSurvived()
{
    Panel panel;
    panel.config.mapPort(1, panel.config.path() + QStringLiteral("/no-such-device"));
    panel.start();
    QCOMPARE(panel.messages.count(), 1);
    QVERIFY2(panel.messages.lastText().contains(QStringLiteral("could not be opened")),
             qPrintable(panel.messages.lastText()));
    QVERIFY(panel.window->isVisible());
    QVERIFY(!panel.window->port().portOpen());

    QTRY_VERIFY(MessageCatcher::open().isEmpty());

    // Each refused click is told; one while the box is up says so in that box.
    panel.click(33);
    panel.click(34);
    QCOMPARE(panel.messages.count(), 2);
    QVERIFY2(panel.messages.lastText().contains(QStringLiteral("not open")), qPrintable(panel.messages.lastText()));
    QCOMPARE(panel.display()->text(), QStringLiteral("00"));
    QVERIFY(panel.boldButtons().isEmpty());
}

void TestMainWindow::exitClosesPortAndStopsTimer()
{
    Panel panel;
    panel.start();
    panel.click(1);
    QVERIFY(panel.window->port().portOpen());
    panel.choose(QStringLiteral("mnuFileExit"));
    QVERIFY(!panel.window->isVisible());
    QVERIFY(!panel.window->port().portOpen());
    QVERIFY(!panel.child<QTimer>(QStringLiteral("tmrScan"))->isActive());
    QCOMPARE(panel.com1.readAll(), QByteArray("V01\r\n"));
    // Closing again, as the close box after Exit would, is harmless.
    panel.window->close();
    QVERIFY(!panel.window->port().portOpen());
}

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
