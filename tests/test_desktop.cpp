// The panel on the user's desktop: its palette, the keyboard alone, a screen
// reader's view through QAccessible, and the language of the locale.
#include "panel.h"

#include "shell/about_box.h"
#include "shell/colours.h"
#include "shell/translations.h"

#include <QAccessible>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QStyleFactory>

using namespace queltor;

namespace {

QPalette darkPalette()
{
    QPalette dark(QColor(53, 53, 53));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::BrightText})
        dark.setColor(role, Qt::white);
    dark.setColor(QPalette::Base, QColor(35, 35, 35));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(127, 127, 127));
    return dark;
}

bool painted(QWidget *widget, const QColor &colour)
{
    const QImage image = widget->grab().toImage();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y).rgb() == colour.rgb())
                return true;
        }
    }
    return false;
}

QString withoutMarks(QString caption) { return caption.remove(QLatin1Char('&')); }

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void coloursFollowThePalette_data();
    void coloursFollowThePalette();
    void keyboardAlone_data();
    void keyboardAlone();
    void screenReadersHearNamesValuesAndSelection_data();
    void screenReadersHearNamesValuesAndSelection();
    void textsInTheLocalesLanguage_data();
    void textsInTheLocalesLanguage();
};

void TestDesktop::initTestCase() { QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion"))); }

void TestDesktop::coloursFollowThePalette_data()
{
    QTest::addColumn<bool>("dark");
    QTest::newRow("light Fusion") << false;
    QTest::newRow("dark Fusion") << true;
}

// The desktop switches palette while the panel runs; the About box is made afterwards.
void TestDesktop::coloursFollowThePalette()
{
    QFETCH(bool, dark);
    const QPalette original = QApplication::palette();
    const auto restore = qScopeGuard([&] { QApplication::setPalette(original); });
    Panel panel;
    panel.start();
    panel.click(7);
    const QPalette palette = dark ? darkPalette() : QApplication::style()->standardPalette();
    QApplication::setPalette(palette);

    QLabel *display = panel.display();
    // The toolkit passes a new palette on to the windows from the event loop.
    QTRY_COMPARE(display->palette().color(QPalette::Window), palette.color(QPalette::Window));
    const QColor window = display->palette().color(QPalette::Window);
    // In Manual mode the display stands in a disabled frame: both groups carry the green.
    const QColor ink = display->palette().color(QPalette::Disabled, QPalette::WindowText);
    QCOMPARE(display->palette().color(QPalette::Active, QPalette::WindowText), ink);
    if (dark) {
        QVERIFY2(contrastRatio(ink, window) >= 4.5, qPrintable(ink.name()));
        QVERIFY(ink.green() > 128 && ink.red() < ink.green() && ink.blue() < ink.green());
    } else {
        QCOMPARE(ink, QColor(0, 128, 0));
    }
    QVERIFY(painted(display, ink));

    frmAbout about(panel.window.get());
    auto *title = about.findChild<QLabel *>(QStringLiteral("lblTitle"));
    QCOMPARE(title->palette().color(QPalette::WindowText), palette.color(QPalette::WindowText));
    QVERIFY(contrastRatio(title->palette().color(QPalette::WindowText), about.palette().color(QPalette::Window))
            >= 4.5);
}

void TestDesktop::keyboardAlone_data()
{
    QTest::addColumn<int>("bankIndex");
    QTest::addColumn<bool>("autoMode");
    QTest::addColumn<QString>("focus");
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("focusAfter");
    QTest::addColumn<bool>("scanning");
    QTest::addColumn<bool>("open");

    const QKeySequence enter(Qt::KeypadModifier | Qt::Key_Enter);
    QTest::newRow("Return on CH 07") << 9 << false << "cmdCH(7)" << QKeySequence(Qt::Key_Return)
                                     << QByteArray("V07\r\n") << "cmdCH(7)" << false << true;
    QTest::newRow("Enter on CH 07") << 9 << false << "cmdCH(7)" << enter << QByteArray("V07\r\n") << "cmdCH(7)" << false
                                    << true;
    QTest::newRow("5, 7 on CH 00") << 9 << false << "cmdCH(0)" << QKeySequence(QStringLiteral("5, 7"))
                                   << QByteArray("V57\r\n") << "cmdCH(57)" << false << true;
    QTest::newRow("0, 7, 4, 2") << 9 << false << "cmdCH(0)" << QKeySequence(QStringLiteral("0, 7, 4, 2"))
                                << QByteArray("V07\r\nV42\r\n") << "cmdCH(42)" << false << true;
    QTest::newRow("5, 7 beyond 20 channels") << 1 << false << "cmdCH(0)" << QKeySequence(QStringLiteral("5, 7"))
                                             << QByteArray() << "cmdCH(0)" << false << true;
    QTest::newRow("one stray digit") << 9 << false << "cmdCH(0)" << QKeySequence(QStringLiteral("4")) << QByteArray()
                                     << "cmdCH(0)" << false << true;
    QTest::newRow("5, X, 7") << 9 << false << "cmdCH(0)" << QKeySequence(QStringLiteral("5, X, 7")) << QByteArray()
                             << "cmdCH(0)" << false << true;
    QTest::newRow("Return on Start Scan")
        << 9 << true << "cmdAuto" << QKeySequence(Qt::Key_Return) << QByteArray() << "cmdAuto" << true << true;
    QTest::newRow("Alt+T to the start list")
        << 9 << true << "cmdAuto" << QKeySequence(Qt::ALT | Qt::Key_T) << QByteArray() << "cboStart" << false << true;
    QTest::newRow("Alt+R to the term") << 9 << true << "cmdAuto" << QKeySequence(Qt::ALT | Qt::Key_R) << QByteArray()
                                       << "txtTerm" << false << true;
    // The arrows go by row and column, not along the Tab order.
    QTest::newRow("Down, then Space on CH 15")
        << 9 << false << "cmdCH(5)" << QKeySequence(QStringLiteral("Down, Space")) << QByteArray("V15\r\n")
        << "cmdCH(15)" << false << true;
    QTest::newRow("Up, Left, Left, Right")
        << 9 << false << "cmdCH(37)" << QKeySequence(QStringLiteral("Up, Left, Left, Right")) << QByteArray()
        << "cmdCH(26)" << false << true;
    QTest::newRow("Down past the bank's last row") << 1 << false << "cmdCH(15)" << QKeySequence(QStringLiteral("Down"))
                                                   << QByteArray() << "cmdCH(15)" << false << true;
    QTest::newRow("Right past the row's end") << 9 << false << "cmdCH(9)" << QKeySequence(QStringLiteral("Right"))
                                              << QByteArray() << "cmdCH(9)" << false << true;
    QTest::newRow("Left past the row's start") << 9 << false << "cmdCH(10)" << QKeySequence(QStringLiteral("Left"))
                                               << QByteArray() << "cmdCH(10)" << false << true;
    QTest::newRow("Up past the top") << 9 << false << "cmdCH(3)" << QKeySequence(QStringLiteral("Up")) << QByteArray()
                                     << "cmdCH(3)" << false << true;
    QTest::newRow("Tab from the row's end") << 9 << false << "cmdCH(9)" << QKeySequence(QStringLiteral("Tab"))
                                            << QByteArray() << "cmdCH(10)" << false << true;
    QTest::newRow("Ctrl+Q") << 9 << false << "cmdCH(3)" << QKeySequence(Qt::CTRL | Qt::Key_Q) << QByteArray() << ""
                            << false << false;
}

void TestDesktop::keyboardAlone()
{
    QFETCH(int, bankIndex);
    QFETCH(bool, autoMode);
    QFETCH(QString, focus);
    QFETCH(QKeySequence, keys);
    QFETCH(QByteArray, wire);
    QFETCH(QString, focusAfter);
    QFETCH(bool, scanning);
    QFETCH(bool, open);
    Panel panel;
    panel.config.setValue(QStringLiteral("Settings"), QStringLiteral("ChNum"), QString::number(bankIndex));
    panel.start();
    panel.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(panel.window.get()));
    if (autoMode) {
        panel.chooseAuto();
        panel.setUp(0, 1, QStringLiteral("0")); // a term of 0: armed, never ticking
    }
    panel.child(focus)->setFocus();
    QVERIFY(panel.child(focus)->hasFocus());

    for (int i = 0; i < keys.count(); ++i)
        QTest::keyClick(QApplication::focusWidget(), keys[i].key(), keys[i].keyboardModifiers());
    QCOMPARE(panel.com1.readAll(), wire);
    if (!focusAfter.isEmpty())
        QVERIFY2(panel.child(focusAfter)->hasFocus(), qPrintable(QApplication::focusWidget()->objectName()));
    QCOMPARE(panel.window->scan().started(), scanning);
    QCOMPARE(panel.window->isVisible(), open);
    QCOMPARE(panel.window->port().portOpen(), open);
    QCOMPARE(panel.messages.count(), 0);
    if (!open) {
        // The panel asked the application to end, which every later modal loop
        // would obey at once; an application loop that ends at once takes the request.
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
}

void TestDesktop::screenReadersHearNamesValuesAndSelection_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QAccessible::Role>("role");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("selected");
    QTest::newRow("selected button") << "cmdCH(7)" << QAccessible::Button << "CH 07"
                                     << "" << true;
    QTest::newRow("other button") << "cmdCH(8)" << QAccessible::Button << "CH 08"
                                  << "" << false;
    QTest::newRow("start list") << "cboStart" << QAccessible::ComboBox << "Start CH"
                                << "0" << false;
    QTest::newRow("end list") << "cboEnd" << QAccessible::ComboBox << "End CH"
                              << "99" << false;
    QTest::newRow("term") << "txtTerm" << QAccessible::EditableText << "Scan Term"
                          << "1" << false;
    QTest::newRow("display") << "lblCH" << QAccessible::StaticText << "Channel"
                             << "07" << false;
    QTest::newRow("Auto frame") << "fraAuto" << QAccessible::Grouping << "Auto"
                                << "" << false;
    QTest::newRow("Manual frame") << "fraMan" << QAccessible::Grouping << "Manual"
                                  << "" << false;
    QTest::newRow("Auto option") << "optAuto" << QAccessible::RadioButton << "Auto"
                                 << "" << false;
}

void TestDesktop::screenReadersHearNamesValuesAndSelection()
{
    QFETCH(QString, control);
    QFETCH(QAccessible::Role, role);
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(bool, selected);
    Panel panel;
    panel.config.setValue(QStringLiteral("Settings"), QStringLiteral("ChNum"), QStringLiteral("9"));
    panel.start();
    panel.click(8);
    panel.click(7);

    QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(panel.child(control));
    QVERIFY(reader);
    QCOMPARE(reader->role(), role);
    QCOMPARE(reader->text(QAccessible::Name), name);
    QCOMPARE(reader->text(QAccessible::Value), value);
    QCOMPARE(bool(reader->state().selected), selected);
    if (QAccessibleTextInterface *text = reader->textInterface(); text && role == QAccessible::StaticText)
        QCOMPARE(text->text(0, text->characterCount()), value);
    // The selection is heard, not seen any other way than in bold.
    if (auto *button = qobject_cast<QPushButton *>(panel.child(control))) {
        QVERIFY(!button->isCheckable() && !button->isDown());
        QCOMPARE(button->font().bold(), selected);
    }
}

void TestDesktop::textsInTheLocalesLanguage_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QStringList>("message");
    // Labels 1 to 4, Auto, Manual, Start Scan, the display's frame, the menus
    // File, Exit, Set, Serial Port, com1, Channel Count, 100, Help, About, a
    // channel button, the window title, then the About box: title, its two texts, OK.
    QTest::newRow("C: today's English") << QLocale::c()
                                        << QStringList{"Start CH:",    "End CH:",       "Scan Term:", "sec",
                                                       "Auto",         "Manual",        "Start Scan", "Channel",
                                                       "File",         "Exit",          "Set",        "Serial Port",
                                                       "com1",         "Channel Count", "100",        "Help",
                                                       "About",        "CH 07",         "QUELTOR",    "About QUELTOR",
                                                       "QUELTOR Demo", "Version 1.0.0", "OK"}
                                        << QStringList{"Channel Error", "Set Start CH less than End CH..."};
    QTest::newRow("Korean") << QLocale(QLocale::Korean, QLocale::SouthKorea)
                            << QStringList{"시작(T):",     "끝(E):",       "주기(R):", "초",         "자동(A)",
                                           "수동(M)",      "스캔 시작",    "채널",     "파일(F)",    "끝내기(X)",
                                           "설정(S)",      "직렬 포트(P)", "com1",     "채널 수(C)", "100",
                                           "도움말(H)",    "정보(A)",      "CH 07",    "QUELTOR",    "QUELTOR 정보",
                                           "QUELTOR 데모", "버전 1.0.0",   "확인"}
                            << QStringList{"채널 오류", "시작 채널을 끝 채널보다 작게 설정하십시오..."};
}

void TestDesktop::textsInTheLocalesLanguage()
{
    QFETCH(QLocale, locale);
    QFETCH(QStringList, texts);
    QFETCH(QStringList, message);
    const QList<QTranslator *> translators = loadTranslations(*qApp, locale);
    const auto restore = qScopeGuard([&] {
        for (QTranslator *translator : translators) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
    });
    QCOMPARE(translators.isEmpty(), locale == QLocale::c());

    Panel panel;
    panel.start();
    QStringList shown;
    for (const char *name : {"Label1", "Label2", "Label3", "Label4"})
        shown << panel.child<QLabel>(QString::fromLatin1(name))->text();
    shown << panel.child<QRadioButton>(QStringLiteral("optAuto"))->text()
          << panel.child<QRadioButton>(QStringLiteral("optMan"))->text() << panel.startStop()->text()
          << panel.child<QGroupBox>(QStringLiteral("fraCh"))->title();
    const QList<QAction *> menus = panel.window->menuBar()->actions();
    shown << menus[0]->text() << panel.action(QStringLiteral("mnuFileExit"))->text() << menus[1]->text()
          << panel.child<QMenu>(QStringLiteral("mnuComm"))->title() << panel.action(QStringLiteral("mnuCom1"))->text()
          << panel.child<QMenu>(QStringLiteral("mnuChannel"))->title()
          << panel.action(QStringLiteral("mnuChNum(9)"))->text() << menus[2]->text()
          << panel.action(QStringLiteral("mnuAbout"))->text() << panel.button(7)->text() << panel.window->windowTitle();
    {
        const frmAbout about(panel.window.get());
        shown << about.windowTitle() << about.findChild<QLabel *>(QStringLiteral("lblTitle"))->text()
              << about.findChild<QLabel *>(QStringLiteral("lblVersion"))->text()
              << about.findChild<QPushButton *>(QStringLiteral("cmdOK"))->text();
    }
    for (QString &text : shown)
        text = withoutMarks(text);
    QCOMPARE(shown, texts);

    panel.chooseAuto();
    panel.setUp(5, 3, QStringLiteral("1"));
    panel.pressStartStop();
    QCOMPARE(panel.messages.count(), 1);
    QCOMPARE((QStringList{panel.messages.boxes().first().title, panel.messages.lastText()}), message);
    QCOMPARE(panel.com1.readAll(), QByteArray());
}

QTEST_MAIN(TestDesktop)
#include "test_desktop.moc"
