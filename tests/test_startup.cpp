// Start-up from the saved settings, and every way the saved state or the
// port can be wrong: the window always comes up, with the failure said.
#include "panel.h"

#include "shell/controls.h"
#include "shell/panel_options.h"

#include <QRadioButton>

#include <QSerialPort>

#include <unistd.h>

using namespace queltor;

namespace {
const QString kSettings = QStringLiteral("Settings");
const QString kChNum = QStringLiteral("ChNum");
const QString kComPort = QStringLiteral("ComPort");
} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void firstRunUsesDefaultsAndSavesChNum();
    void savedChoicesAreRestored();
    void storedCountIsLeftAsWritten_data();
    void storedCountIsLeftAsWritten();
    void choicesPersistAcrossRuns();

    void badStoredTextFallsBackToDefault_data();
    void badStoredTextFallsBackToDefault();
    void settingsFileRoundTrip_data();
    void settingsFileRoundTrip();

    void missingDeviceStillShowsWindow();
    void portHeldByAnotherOpenIsReported();
    void unsavableChoiceStillTakesEffect();

    void commandLine_data();
    void commandLine();
};

void TestStartup::firstRunUsesDefaultsAndSavesChNum()
{
    Panel panel;
    panel.start();
    QCOMPARE(panel.messages.count(), 0);
    QCOMPARE(panel.window->channelCount(), 20);
    QCOMPARE(panel.child<QComboBox>(QStringLiteral("cboEnd"))->currentText(), QStringLiteral("19"));
    QVERIFY(!panel.button(19)->isHidden());
    QVERIFY(panel.button(20)->isHidden());
    QVERIFY(panel.action(QStringLiteral("mnuCom1"))->isChecked());
    QVERIFY(!panel.action(QStringLiteral("mnuCom2"))->isChecked());
    QCOMPARE(panel.window->port().commPort(), 1);
    QVERIFY(panel.window->port().portOpen());
    QCOMPARE(panel.config.value(kSettings, kChNum), QStringLiteral("1"));
    QVERIFY(!panel.config.contains(kSettings, kComPort));
    QVERIFY(panel.child<QRadioButton>(QStringLiteral("optMan"))->isChecked());
    QCOMPARE(panel.com1.readAll(), QByteArray());
}

void TestStartup::savedChoicesAreRestored()
{
    Panel panel;
    panel.config.setValue(kSettings, kChNum, QStringLiteral("9"));
    panel.config.setValue(kSettings, kComPort, QStringLiteral("2"));
    panel.start();
    QCOMPARE(panel.messages.count(), 0);
    QCOMPARE(panel.window->channelCount(), 100);
    QVERIFY(!panel.button(99)->isHidden());
    QVERIFY(!panel.action(QStringLiteral("mnuCom1"))->isChecked());
    QVERIFY(panel.action(QStringLiteral("mnuCom2"))->isChecked());
    QCOMPARE(panel.window->port().commPort(), 2);
    panel.click(42);
    QCOMPARE(panel.com2.readAll(), QByteArray("V42\r\n"));
    QCOMPARE(panel.com1.readAll(), QByteArray());
}

void TestStartup::storedCountIsLeftAsWritten_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("channels");

    QTest::newRow("exponent") << QByteArray("9E0") << 100;
    QTest::newRow("hex") << QByteArray("&H3") << 40;
    QTest::newRow("a fraction") << QByteArray("0.5") << 10;
}

void TestStartup::storedCountIsLeftAsWritten()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, channels);
    Panel panel;
    QFile file(panel.config.fileName());
    QVERIFY(file.open(QIODevice::Append));
    file.write("\n[Settings]\nChNum=" + stored + "\n");
    file.close();
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    panel.start();
    QCOMPARE(panel.messages.count(), 0);
    QCOMPARE(panel.window->channelCount(), channels);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == before);
}

void TestStartup::choicesPersistAcrossRuns()
{
    Panel panel;
    panel.start();
    panel.choose(QStringLiteral("mnuChNum(4)"));
    panel.choose(QStringLiteral("mnuCom2"));
    QCOMPARE(panel.config.value(kSettings, kChNum), QStringLiteral("4"));
    QCOMPARE(panel.config.value(kSettings, kComPort), QStringLiteral("2"));
    panel.window.reset();

    panel.start();
    QCOMPARE(panel.window->channelCount(), 50);
    QCOMPARE(panel.window->port().commPort(), 2);
    QVERIFY(panel.action(QStringLiteral("mnuChNum(4)"))->isChecked());
    QCOMPARE(panel.messages.count(), 0);
}

void TestStartup::badStoredTextFallsBackToDefault_data()
{
    // Which texts are unusable is the stored choices' own test; here, what the window does with one.
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message"); // {file} the settings file
    QTest::addColumn<bool>("fileUsable");

    QTest::newRow("ChNum") << kChNum << "abc"
                           << "The stored setting ChNum (\"abc\") is not used: it is not a channel count of 10 "
                              "to 100. 20 channels are used instead."
                           << true;
    QTest::newRow("ComPort") << kComPort << "COM2"
                             << "The stored setting ComPort (\"COM2\") is not used: it is not a port number of 1 "
                                "to 255. COM1 is used instead."
                             << true;
    // Shown as the characters it is made of, cut short: no headline, no image.
    QTest::newRow("rich text") << kChNum << R"(<h1 style="color:red">CALL SUPPORT</h1><img src="/any/local.png">)"
                               << QStringLiteral("The stored setting ChNum (\"<h1 style=\"color:red\">CALL SUPPORT"
                                                 "</h1><\u2026\") is not used: it is not a channel count of 10 to "
                                                 "100. 20 channels are used instead.")
                               << true;
    const QString unused = QStringLiteral("The settings file {file} is not used: it %1. 20 channels are shown; no "
                                          "port is opened and no choice is saved until the file is mended or removed.");
    QTest::newRow("1 MB value") << kComPort << QString(1 << 20, QLatin1Char('7'))
                                << unused.arg(QStringLiteral("is larger than 64 KB")) << false;
    QTest::newRow("2,000 characters") << kChNum << QString(2000, QLatin1Char('<'))
                                      << unused.arg(
                                             QStringLiteral("has a value of more than 1,000 characters on line 6"))
                                      << false;
}

void TestStartup::badStoredTextFallsBackToDefault()
{
    QFETCH(QString, key);
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(bool, fileUsable);
    Panel panel;
    panel.config.setValue(kSettings, key, text);
    QFile file(panel.config.fileName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    panel.start();

    QCOMPARE(panel.messages.count(), 1);
    const MessageCatcher::Box box = panel.messages.boxes().first();
    QCOMPARE(box.title, QStringLiteral("QUELTOR"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.format, Qt::PlainText);
    QCOMPARE(box.text, QString(message).replace(QStringLiteral("{file}"), panel.config.fileName()));

    // The default stands in for the bad key, and start-up went on to the end.
    QVERIFY(panel.window->isVisible());
    QCOMPARE(panel.window->channelCount(), 20);
    QCOMPARE(panel.window->port().commPort(), 1);
    QVERIFY(panel.action(QStringLiteral("mnuCom1"))->isChecked());
    if (fileUsable) {
        QCOMPARE(panel.config.value(kSettings, kChNum), QStringLiteral("1"));
        panel.click(3);
        QCOMPARE(panel.com1.readAll(), QByteArray("V03\r\n"));
    } else {
        // A file the panel cannot read is not written, nor trusted to say where COM1 is.
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == before);
        QVERIFY(!panel.window->port().portOpen());
        QCOMPARE(panel.window->port().portLabel(), QStringLiteral("COM1"));
    }
}

void TestStartup::settingsFileRoundTrip_data()
{
    QTest::addColumn<QByteArray>("eol");
    QTest::addColumn<QByteArray>("com1Name");    // a link to the pty, in a folder of the config home
    QTest::addColumn<QByteArray>("com1Written"); // the value after COM1=, {} that folder
    QTest::addColumn<QByteArray>("com2Name");
    QTest::addColumn<QByteArray>("com2Written");

    QTest::newRow("comma, semicolon") << QByteArray("\n") << QByteArray("usb-Rig_Co.,_Ltd_A1-if00")
                                      << QByteArray("{}/usb-Rig_Co.,_Ltd_A1-if00") << QByteArray("a;b")
                                      << QByteArray("{}/a;b");
    QTest::newRow("hash, blanks, CRLF") << QByteArray("\r\n") << QByteArray("#1 port") << QByteArray(" \t{}/#1 port ")
                                        << QByteArray("x # y") << QByteArray("{}/x # y");
    QTest::newRow("quoted as QSettings writes") << QByteArray("\n") << QByteArray("q\"1") << QByteArray(R"("{}/q\"1")")
                                                << QByteArray("b\\s, c") << QByteArray(R"("{}/b\\s, c")");
    QTest::newRow("not UTF-8, CRLF") << QByteArray("\r\n")
                                     << QByteArray("\xff\xfe"
                                                   "1")
                                     << QByteArray("{}/\xff\xfe"
                                                   "1")
                                     << QByteArray("caf\xe9") << QByteArray("{}/caf\xe9");
}

void TestStartup::settingsFileRoundTrip()
{
    QFETCH(QByteArray, eol);
    QFETCH(QByteArray, com1Name);
    QFETCH(QByteArray, com1Written);
    QFETCH(QByteArray, com2Name);
    QFETCH(QByteArray, com2Written);
    Panel panel;
    const QByteArray folder = QFile::encodeName(panel.config.path()) + "/dev";
    QVERIFY(QDir().mkpath(QFile::decodeName(folder)));
    const std::pair<const QByteArray &, const Pty &> links[] = {{com1Name, panel.com1}, {com2Name, panel.com2}};
    for (const auto &[name, pty] : links)
        QCOMPARE(::symlink(QFile::encodeName(pty.slavePath()).constData(), (folder + '/' + name).constData()), 0);

    // Everything a hand-kept file may hold; the panel owns two values in it.
    const QList<QByteArray> lines{"; QUELTOR, kept by hand",
                                  "# the ports first",
                                  "[Ports]",
                                  "COM1=" + com1Written.replace("{}", folder),
                                  "COM2=" + com2Written.replace("{}", folder),
                                  "COM3=/dev/ttyUSB9, spare ; \"not\" in use",
                                  "",
                                  "[Settings]",
                                  "; 1 stands for 20 channels",
                                  "ChNum=1",
                                  "Theme=dark, \"quoted\"",
                                  "ComPort = 1 ",
                                  "",
                                  "[Other program]",
                                  "key with blanks = a;b # c",
                                  "bytes=\xff\xfe\t\x01",
                                  "last line without its end"};
    const auto fileOf = [&eol](QList<QByteArray> text) { return text.join(eol); };
    QFile file(panel.config.fileName());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(fileOf(lines)) > 0);
    file.close();

    panel.start();
    QCOMPARE(panel.messages.count(), 0);
    QCOMPARE(panel.window->channelCount(), 20);
    panel.click(7);
    QCOMPARE(panel.com1.readAll(), QByteArray("V07\r\n"));
    panel.choose(QStringLiteral("mnuChNum(4)"));
    panel.choose(QStringLiteral("mnuCom2"));
    panel.click(33);
    QCOMPARE(panel.com2.readAll(), QByteArray("V33\r\n"));
    QCOMPARE(panel.com1.readAll(), QByteArray());
    QCOMPARE(panel.messages.count(), 0);
    panel.window.reset(); // the run ends

    // Every line as it was but the two values the panel owns.
    QList<QByteArray> expected = lines;
    expected[9] = "ChNum=4";
    expected[11] = "ComPort = 2 ";
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), fileOf(expected));
}

void TestStartup::missingDeviceStillShowsWindow()
{
    Panel panel;
    const QString missing = panel.config.path() + QStringLiteral("/unplugged");
    panel.config.mapPort(1, missing);
    panel.start();
    QCOMPARE(panel.messages.count(), 1);
    QCOMPARE(panel.messages.lastText(),
             QStringLiteral("COM1 (%1) could not be opened: the device does not exist. Plug the device in, or choose "
                            "it with Set > Serial Port > Choose Device.")
                 .arg(missing));
    QVERIFY(panel.window->isVisible());
    QVERIFY(!panel.window->port().portOpen());
    QCOMPARE(panel.window->channelCount(), 20);

    // The user picks the other port from the menu and goes on.
    panel.choose(QStringLiteral("mnuCom2"));
    QCOMPARE(panel.messages.count(), 1);
    panel.click(8);
    QCOMPARE(panel.com2.readAll(), QByteArray("V08\r\n"));
}

void TestStartup::portHeldByAnotherOpenIsReported()
{
    Panel panel;
    QSerialPort other(panel.com1.slavePath());
    QVERIFY(other.open(QIODevice::ReadWrite));
    panel.start();
    QCOMPARE(panel.messages.count(), 1);
    QVERIFY2(panel.messages.lastText().startsWith(
                 QStringLiteral("COM1 (%1) could not be opened").arg(panel.com1.slavePath())),
             qPrintable(panel.messages.lastText()));
    QVERIFY2(panel.messages.lastText().contains(QStringLiteral("in use")), qPrintable(panel.messages.lastText()));
    QVERIFY(panel.window->isVisible());
    QVERIFY(!panel.window->port().portOpen());
    auto *status = panel.child<LinkStatusLabel>(QStringLiteral("lblLink"));
    QCOMPARE(status->fullText(),
             QStringLiteral("COM1 · %1 · not connected: in use by %2 (PID %3)")
                 .arg(panel.com1.slavePath(), QFileInfo(QCoreApplication::arguments().constFirst()).fileName())
                 .arg(QCoreApplication::applicationPid()));

    // Once the other program lets go, choosing the port again connects.
    other.close();
    panel.choose(QStringLiteral("mnuCom1"));
    QCOMPARE(status->fullText(), QStringLiteral("COM1 · %1 · connected").arg(panel.com1.slavePath()));
    panel.click(6);
    QCOMPARE(panel.com1.readAll(), QByteArray("V06\r\n"));
}

void TestStartup::unsavableChoiceStillTakesEffect()
{
    Panel panel;
    panel.start();
    // A directory where the settings file should be: no one, root included, can write it.
    QFile::remove(panel.config.fileName());
    QVERIFY(QDir().mkpath(panel.config.fileName()));
    panel.choose(QStringLiteral("mnuChNum(2)"));
    QCOMPARE(panel.messages.count(), 1);
    QVERIFY2(panel.messages.lastText().contains(QStringLiteral("ChNum")), qPrintable(panel.messages.lastText()));
    QVERIFY2(panel.messages.lastText().contains(QStringLiteral("could not be saved")),
             qPrintable(panel.messages.lastText()));
    QCOMPARE(panel.window->channelCount(), 30);
    QVERIFY(!panel.button(29)->isHidden());
    QVERIFY(panel.action(QStringLiteral("mnuChNum(2)"))->isChecked());
}

void TestStartup::commandLine_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<QString>("config");
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("help");
    QTest::addColumn<QString>("error"); // how it begins; empty when none

    QTest::newRow("Qt's own options pass to Qt")
        << "-platform offscreen -style Fusion --config /x/a.conf -reverse --display :1"
        << "/x/a.conf"
        << "" << false << "";
    QTest::newRow("joined values") << "--config=b.conf --device=/dev/ttyUSB0 -qwindowtitle=Desk"
                                   << "b.conf"
                                   << "/dev/ttyUSB0" << false << "";
    QTest::newRow("help") << "-style Fusion -h"
                          << ""
                          << "" << true << "";
    QTest::newRow("unknown option") << "--port COM1"
                                    << ""
                                    << "" << false << "Unknown option 'port'";
    QTest::newRow("a word") << "/dev/ttyUSB0"
                            << ""
                            << "" << false << "unexpected argument \"/dev/ttyUSB0\"";
    QTest::newRow("no file") << "--config"
                             << ""
                             << "" << false << "Missing value after '--config'";
    QTest::newRow("empty device") << "--device="
                                  << ""
                                  << "" << false << "--device needs a path";
}

void TestStartup::commandLine()
{
    QFETCH(QString, args);
    QFETCH(QString, config);
    QFETCH(QString, device);
    QFETCH(bool, help);
    QFETCH(QString, error);
    const PanelOptions options = parsePanelOptions(QStringList{QStringLiteral("queltor")}
                                                   + args.split(QLatin1Char(' ')));
    QVERIFY2(error.isEmpty() ? options.error.isEmpty() : options.error.startsWith(error), qPrintable(options.error));
    if (!error.isEmpty())
        return;
    QCOMPARE(options.settingsFile, config);
    QCOMPARE(options.device, device.toLocal8Bit());
    QCOMPARE(options.help, help);
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
