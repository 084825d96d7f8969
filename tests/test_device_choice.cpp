// Set > Serial Port > Choose Device: the devices plugged in, found with
// their stable links, and the one chosen stored for the port and opened.
#include "panel.h"

#include "link/device_list.h"
#include "shell/device_dialog.h"

#include <QFile>
#include <QPointer>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <climits>
#include <cstdlib>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace queltor;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Fills folder as udev fills /dev/serial/by-id. An entry "name>target" is a
// link to target: "pty" is the pseudo-terminal, "file" a plain file, anything
// else a path that does not exist; an entry without '>' is a plain file.
bool publish(const QByteArray &folder, const QByteArrayList &entries, const QByteArray &pty)
{
    for (const QByteArray &entry : entries) {
        const qsizetype arrow = entry.indexOf('>');
        const QByteArray path = folder + '/' + (arrow < 0 ? entry : entry.left(arrow));
        const QByteArray target = arrow < 0 ? QByteArray() : entry.mid(arrow + 1);
        const QByteArray file = arrow < 0 ? path : folder + "/plain";
        if (arrow < 0 || target == "file") {
            QFile plain(QFile::decodeName(file));
            if (!plain.open(QIODevice::WriteOnly))
                return false;
        }
        const QByteArray to = target == "pty" ? pty : target == "file" ? file : folder + "/missing";
        if (arrow >= 0 && ::symlink(to.constData(), path.constData()) != 0)
            return false;
    }
    return true;
}

// Runs work on the dialog Choose Device opens; it is cancelled afterwards if
// work left it open, and gone once the event loop has run.
void whileDialogIsOpen(Panel &panel, const std::function<void(DeviceDialog *)> &work)
{
    panel.choose(QStringLiteral("mnuChooseDevice"));
    const QPointer<DeviceDialog> dialog = qobject_cast<DeviceDialog *>(QApplication::activeModalWidget());
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->isActiveWindow()); // as the operator meets it
    work(dialog);
    if (dialog && dialog->isVisible())
        dialog->reject();
    QTRY_VERIFY(dialog.isNull());
}

} // namespace

class TestDeviceChoice : public QObject
{
    Q_OBJECT
private slots:
    void devicesAreFoundByTheirLinks_data();
    void devicesAreFoundByTheirLinks();
    void choiceIsStoredAndOpened_data();
    void choiceIsStoredAndOpened();
    void noDevicesLeavesTheField();
};

void TestDeviceChoice::devicesAreFoundByTheirLinks_data()
{
    QTest::addColumn<bool>("folderExists");
    QTest::addColumn<QByteArrayList>("entries");
    QTest::addColumn<QByteArrayList>("listed"); // the links listed, all to the pty

    QTest::newRow("a pty behind a link") << true << QByteArrayList{"usb-Fake_A1-if00-port0>pty"}
                                         << QByteArrayList{"usb-Fake_A1-if00-port0"};
    QTest::newRow("dangling link, plain file and link to one passed over")
        << true << QByteArrayList{"gone>missing", "notes", "readme>file", "usb-Fake>pty"} << QByteArrayList{"usb-Fake"};
    QTest::newRow("two links to one device: the first by name")
        << true << QByteArrayList{"usb-B>pty", "usb-A>pty"} << QByteArrayList{"usb-A"};
    QTest::newRow("a name that is not UTF-8")
        << true << QByteArrayList{"usb-\xff\xfe>pty"} << QByteArrayList{"usb-\xff\xfe"};
    QTest::newRow("empty folder") << true << QByteArrayList{} << QByteArrayList{};
    QTest::newRow("no folder: nothing plugged in since boot") << false << QByteArrayList{} << QByteArrayList{};
}

void TestDeviceChoice::devicesAreFoundByTheirLinks()
{
    QFETCH(bool, folderExists);
    QFETCH(QByteArrayList, entries);
    QFETCH(QByteArrayList, listed);
    Pty pty;
    QVERIFY(pty.isValid());
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path()) + (folderExists ? "" : "/by-id");
    const QByteArray ptyPath = QFile::encodeName(pty.slavePath());
    QVERIFY(publish(folder, entries, ptyPath));

    const QList<SerialDevice> devices = serialDevices(folder);
    QByteArrayList links;
    for (const SerialDevice &device : devices) {
        if (device.stableLink.isEmpty())
            continue;
        links << device.stableLink.mid(folder.size() + 1);
        QCOMPARE(device.systemPath, ptyPath);
        QCOMPARE(device.storedPath(), device.stableLink);
    }
    QCOMPARE(links, listed);
    // Every port the system lists is there too, with or without a link.
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const QByteArray path = QFile::encodeName(info.systemLocation());
        QVERIFY2(std::any_of(devices.cbegin(), devices.cend(), [&](const auto &d) { return d.systemPath == path; }),
                 path.constData());
    }
}

void TestDeviceChoice::choiceIsStoredAndOpened_data()
{
    QTest::addColumn<int>("port");        // the port checked in Set > Serial Port
    QTest::addColumn<QString>("how");     // the operator's way through the dialog
    QTest::addColumn<QString>("outcome"); // stored, cancelled, or refused by the settings file

    QTest::newRow("COM1, listed device by keyboard") << 1 << QStringLiteral("list") << QStringLiteral("stored");
    QTest::newRow("COM2, listed device by double-click")
        << 2 << QStringLiteral("double-click") << QStringLiteral("stored");
    QTest::newRow("COM1, path typed") << 1 << QStringLiteral("typed") << QStringLiteral("stored");
    QTest::newRow("COM2, cancelled with Esc") << 2 << QStringLiteral("list") << QStringLiteral("cancelled");
    // Not saved, the choice is not made: the port stays on its device, and the message says why.
    QTest::newRow("COM1, the file cannot be written") << 1 << QStringLiteral("list") << QStringLiteral("refused");
}

void TestDeviceChoice::choiceIsStoredAndOpened()
{
    QFETCH(int, port);
    QFETCH(QString, how);
    QFETCH(QString, outcome);
    const bool chosen = outcome == QLatin1String("stored");
    Panel panel;
    Pty adapter;
    QTemporaryDir byId;
    const QByteArray link = QFile::encodeName(byId.path()) + "/usb-Fake_Adapter_A1-if00-port0";
    QVERIFY(::symlink(adapter.slavePath().toLocal8Bit().constData(), link.constData()) == 0);
    panel.start();
    panel.window->setDeviceFolder(QFile::encodeName(byId.path()));
    if (port == 2)
        panel.choose(QStringLiteral("mnuCom2"));
    const QByteArray before = fileBytes(panel.config.fileName());
    if (outcome == QLatin1String("refused")) {
        const QByteArray file = QFile::encodeName(panel.config.fileName());
        QVERIFY(::geteuid() == 0 ? ::chown(file.constData(), 1, 1) == 0 : ::chmod(file.constData(), 0444) == 0);
    }
    // Typed, the path is stored as typed; from the list, the link rather than the pty.
    const QByteArray path = how == QLatin1String("typed") ? adapter.slavePath().toLocal8Bit() : link;

    whileDialogIsOpen(panel, [&](DeviceDialog *dialog) {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Choose Device for COM%1").arg(port));
        auto *list = dialog->findChild<QTreeWidget *>(QStringLiteral("lstDevices"));
        auto *field = dialog->findChild<QLineEdit *>(QStringLiteral("txtPath"));
        const QList<QTreeWidgetItem *> rows = list->findItems(QString::fromLocal8Bit(link), Qt::MatchExactly);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first()->text(1), adapter.slavePath());
        // The field starts at the port's device now.
        QCOMPARE(field->text(), (port == 1 ? panel.com1 : panel.com2).slavePath());
        if (how == QLatin1String("typed")) {
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_P, Qt::AltModifier);
            QCOMPARE(dialog->focusWidget(), field);
            field->selectAll();
            QTest::keyClicks(field, QStringLiteral(" %1 ").arg(adapter.slavePath()));
            QTest::keyClick(field, Qt::Key_Return);
            return;
        }
        if (how == QLatin1String("double-click")) {
            const QRect cell = list->visualItemRect(rows.first());
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
            return;
        }
        QCOMPARE(dialog->focusWidget(), list);
        QTest::keyClick(list, Qt::Key_Home);
        QTest::keyClick(list, Qt::Key_Space);
        for (int i = 0; i < list->topLevelItemCount() && !rows.first()->isSelected(); ++i)
            QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(field->text(), QString::fromLocal8Bit(link));
        QTest::keyClick(list, outcome == QLatin1String("cancelled") ? Qt::Key_Escape : Qt::Key_Return);
    });

    // Exactly one line of the file changed, the port's, and nothing else did.
    const QByteArray after = fileBytes(panel.config.fileName());
    const QByteArrayList beforeLines = before.split('\n');
    const QByteArrayList afterLines = after.split('\n');
    QCOMPARE(afterLines.size(), beforeLines.size());
    QByteArrayList changed;
    for (qsizetype i = 0; i < afterLines.size(); ++i) {
        if (afterLines.at(i) != beforeLines.at(i))
            changed << afterLines.at(i);
    }
    QCOMPARE(changed, chosen ? QByteArrayList{"COM" + QByteArray::number(port) + '=' + path} : QByteArrayList{});

    panel.click(7);
    Pty &old = port == 1 ? panel.com1 : panel.com2;
    QCOMPARE(adapter.readAll(), chosen ? QByteArray("V07\r\n") : QByteArray());
    QCOMPARE(old.readAll(), chosen ? QByteArray() : QByteArray("V07\r\n"));
    QCOMPARE(panel.messages.count(), outcome == QLatin1String("refused") ? 1 : 0);
    QVERIFY(panel.messages.lastText().startsWith(QStringLiteral("The setting COM%1 could not be saved").arg(port))
            || outcome != QLatin1String("refused"));
}

void TestDeviceChoice::noDevicesLeavesTheField()
{
    DeviceDialog dialog({}, QStringLiteral("COM1"), "/dev/ttyS0");
    dialog.show();
    auto *none = dialog.findChild<QLabel *>(QStringLiteral("lblNoDevices"));
    auto *field = dialog.findChild<QLineEdit *>(QStringLiteral("txtPath"));
    auto *ok = dialog.findChild<QPushButton *>(QStringLiteral("cmdOK"));
    QVERIFY(none->isVisible());
    QCOMPARE(none->text(), QStringLiteral("No serial devices found"));
    QVERIFY(!dialog.findChild<QTreeWidget *>(QStringLiteral("lstDevices"))->isVisible());
    QCOMPARE(dialog.focusWidget(), field);
    QCOMPARE(field->accessibleName(), QStringLiteral("Path"));
    QCOMPARE(dialog.chosenPath(), QByteArray("/dev/ttyS0"));

    // Nothing typed, nothing to open.
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QVERIFY(!ok->isEnabled());
    QTest::keyClicks(field, QStringLiteral("/dev/ttyACM0"));
    QVERIFY(ok->isEnabled());
    QCOMPARE(dialog.chosenPath(), QByteArray("/dev/ttyACM0"));
}

QTEST_MAIN(TestDeviceChoice)
#include "test_device_choice.moc"
