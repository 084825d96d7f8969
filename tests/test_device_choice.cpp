// Set > Serial Port > Choose Device: the devices plugged in, found with
// their stable links and followed while the dialog is open, the one chosen
// stored for the port and opened, and the offer of an adapter at first start.
#include "panel.h"

#include "link/device_access.h"
#include "link/device_list.h"
#include "link/device_watch.h"
#include "shell/device_dialog.h"

#include <QFile>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QScopeGuard>
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
    void listFollowsDevicesPluggedIn();
    void busyDevicesNameTheirHolder();
    void firstRunOffersTheAdapter_data();
    void firstRunOffersTheAdapter();
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
    DeviceDialog dialog("/nowhere", QStringLiteral("COM1"), "/dev/ttyS0", nullptr,
                        [](const QByteArray &) { return QList<SerialDevice>(); });
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

void TestDeviceChoice::listFollowsDevicesPluggedIn()
{
    Panel panel;
    Pty adapter;
    Pty second;
    QTemporaryDir byId;
    QTemporaryDir elsewhere;
    const QByteArray folder = QFile::encodeName(byId.path());
    const QByteArray link = folder + "/usb-Fake_Adapter_A1-if00-port0";
    // A link whose device is not there yet: the folder does not change when it comes.
    const QByteArray early = folder + "/usb-Fake_Adapter_B2-if00-port0";
    const QByteArray later = QFile::encodeName(elsewhere.path()) + "/ttyFAKE0";
    QVERIFY(::symlink(later.constData(), early.constData()) == 0);
    panel.start();
    panel.window->setDeviceFolder(folder);

    whileDialogIsOpen(panel, [&](DeviceDialog *dialog) {
        auto *list = dialog->findChild<QTreeWidget *>(QStringLiteral("lstDevices"));
        const auto listed = [list](const QByteArray &path) {
            return !list->findItems(QString::fromLocal8Bit(path), Qt::MatchExactly).isEmpty();
        };
        QVERIFY(!listed(link));
        QVERIFY(::symlink(adapter.slavePath().toLocal8Bit().constData(), link.constData()) == 0);
        QTRY_VERIFY(listed(link));
        // Chosen, then pulled out: the choice stays in the field, and comes back to the list with the device.
        list->findItems(QString::fromLocal8Bit(link), Qt::MatchExactly).first()->setSelected(true);
        QVERIFY(::unlink(link.constData()) == 0);
        QTRY_VERIFY(!listed(link));
        QCOMPARE(dialog->chosenPath(), link);
        QVERIFY(::symlink(adapter.slavePath().toLocal8Bit().constData(), link.constData()) == 0);
        QTRY_VERIFY(listed(link));
        QVERIFY(list->findItems(QString::fromLocal8Bit(link), Qt::MatchExactly).first()->isSelected());

        QVERIFY(!listed(early));
        QVERIFY(::symlink(second.slavePath().toLocal8Bit().constData(), later.constData()) == 0);
        QTest::qWait(3 * DeviceWatch::kSettleMs);
        QVERIFY(!listed(early));
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("cmdRefresh")), Qt::LeftButton);
        QVERIFY(listed(early));
    });
}

void TestDeviceChoice::busyDevicesNameTheirHolder()
{
    Panel panel;
    Pty held;
    Pty free;
    QTemporaryDir byId;
    const QByteArray folder = QFile::encodeName(byId.path());
    const QList<std::pair<QByteArray, QString>> links{{"usb-Held-if00", held.slavePath()},
                                                      {"usb-Free-if00", free.slavePath()},
                                                      {"usb-Ours-if00", panel.com1.slavePath()}};
    for (const auto &[name, target] : links)
        QVERIFY(::symlink(QFile::encodeName(target).constData(), (folder + '/' + name).constData()) == 0);
    // Another program holding the device as tio does, with flock(), and nothing
    // else of this process's: Qt 6.4 lets a child inherit every descriptor.
    QProcess holder;
    holder.setChildProcessModifier([] { ::close_range(3, ~0U, 0); });
    holder.start(QStringLiteral("flock"),
                 {QStringLiteral("--no-fork"), held.slavePath(), QStringLiteral("sleep"), QStringLiteral("60")});
    QVERIFY(holder.waitForStarted());
    const auto stop = qScopeGuard([&holder] {
        holder.kill();
        holder.waitForFinished();
    });
    QTRY_VERIFY(device_access::deviceHolder(QFile::encodeName(held.slavePath())).has_value());
    panel.start();
    panel.window->setDeviceFolder(folder);

    whileDialogIsOpen(panel, [&](DeviceDialog *dialog) {
        auto *list = dialog->findChild<QTreeWidget *>(QStringLiteral("lstDevices"));
        const auto holderOf = [&](const QByteArray &name) {
            const QList<QTreeWidgetItem *> rows = list->findItems(QString::fromLocal8Bit(folder + '/' + name),
                                                                  Qt::MatchExactly);
            return rows.isEmpty() ? QStringLiteral("not listed") : rows.first()->text(2);
        };
        QCOMPARE(list->headerItem()->text(2), QStringLiteral("In use by"));
        QCOMPARE(holderOf("usb-Held-if00"), QStringLiteral("sleep (PID %1)").arg(holder.processId()));
        QCOMPARE(holderOf("usb-Free-if00"), QString());
        QCOMPARE(holderOf("usb-Ours-if00"), QStringLiteral("this panel"));
        // Let go, the device is free once the list is read again.
        holder.kill();
        holder.waitForFinished();
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("cmdRefresh")), Qt::LeftButton);
        QCOMPARE(holderOf("usb-Held-if00"), QString());
    });
}

void TestDeviceChoice::firstRunOffersTheAdapter_data()
{
    QTest::addColumn<int>("adapters");   // links in the by-id folder
    QTest::addColumn<QString>("named");  // how COM1's device is named: not at all, in the file, for this run
    QTest::addColumn<bool>("confirmed"); // Open pressed rather than Cancel

    QTest::newRow("one adapter, opened") << 1 << QString() << true;
    QTest::newRow("one adapter, cancelled") << 1 << QString() << false;
    QTest::newRow("two adapters: neither chosen for the user") << 2 << QString() << false;
    QTest::newRow("no adapter: no offer") << 0 << QString() << false;
    QTest::newRow("a device in the file: no offer") << 1 << QStringLiteral("file") << false;
    QTest::newRow("a device for this run: no offer") << 1 << QStringLiteral("run") << false;
}

void TestDeviceChoice::firstRunOffersTheAdapter()
{
    QFETCH(int, adapters);
    QFETCH(QString, named);
    QFETCH(bool, confirmed);
    Panel panel;
    // A first start: no settings file, or one with the device alone.
    QVERIFY(QFile::remove(panel.config.fileName()));
    if (named == QLatin1String("file"))
        panel.config.mapPort(1, panel.com1.slavePath());
    SettingsStore store;
    if (named == QLatin1String("run"))
        store.setRunDevice(1, QFile::encodeName(panel.com1.slavePath()));
    QTemporaryDir byId(QDir::tempPath() + QStringLiteral("/by-id-XXXXXX"));
    const QByteArrayList names{"usb-FTDI_FT232R_USB_UART_A10K2XYZ-if00-port0",
                               "usb-Prolific_USB-Serial_Controller-if00"};
    std::vector<std::unique_ptr<Pty>> plugged;
    for (int i = 0; i < adapters; ++i) {
        plugged.push_back(std::make_unique<Pty>());
        const QByteArray link = QFile::encodeName(byId.filePath(QString::fromLatin1(names.at(i))));
        QVERIFY(::symlink(plugged.back()->slavePath().toLocal8Bit().constData(), link.constData()) == 0);
    }
    const QByteArray link = QFile::encodeName(byId.filePath(QString::fromLatin1(names.first())));
    panel.start(store);
    panel.window->setDeviceFolder(QFile::encodeName(byId.path()));
    const QByteArray before = fileBytes(panel.config.fileName());

    panel.window->offerDevice();
    QPointer<DeviceDialog> dialog = panel.window->findChild<DeviceDialog *>();
    QCOMPARE(!dialog.isNull(), adapters > 0 && named.isEmpty());
    if (!dialog) {
        QCOMPARE(fileBytes(panel.config.fileName()), before);
        return;
    }
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    auto *field = dialog->findChild<QLineEdit *>(QStringLiteral("txtPath"));
    auto *ok = dialog->findChild<QPushButton *>(QStringLiteral("cmdOK"));
    QCOMPARE(field->text(), adapters == 1 ? QString::fromLocal8Bit(link) : QString());
    QCOMPARE(ok->isEnabled(), adapters == 1);
    QVERIFY(dialog->findChild<QLabel *>(QStringLiteral("lblIntroduction"))->isVisible());
    if (confirmed) {
        // The offer as the operator meets it, for the documentation: the dialog over the window.
        const QPixmap window = panel.window->grab();
        const QPixmap offer = dialog->grab();
        const int margin = 24;
        QPixmap shot(qMax(window.width(), offer.width() + 4 * margin) + 2 * margin,
                     window.height() / 2 + offer.height() + 4 * margin);
        shot.fill(QColor(0x5a, 0x6e, 0x82));
        QPainter paint(&shot);
        paint.drawPixmap(margin, margin, window);
        const QRect placed(QPoint(shot.width() - offer.width() - margin, shot.height() - offer.height() - margin),
                           offer.size());
        // The title the window manager would draw.
        const QRect title(placed.left(), placed.top() - margin, placed.width(), margin);
        paint.fillRect(title, QColor(0x30, 0x3c, 0x48));
        paint.setPen(Qt::white);
        paint.drawText(title, Qt::AlignCenter, dialog->windowTitle());
        paint.drawPixmap(placed.topLeft(), offer);
        paint.end();
        QVERIFY(QDir().mkpath(QFileInfo(QStringLiteral(QUELTOR_FIRST_RUN_SHOT)).path()));
        QVERIFY(shot.save(QStringLiteral(QUELTOR_FIRST_RUN_SHOT)));
    }
    QCOMPARE(fileBytes(panel.config.fileName()), before);

    QTest::mouseClick(confirmed ? ok : dialog->findChild<QPushButton *>(QStringLiteral("cmdCancel")), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
    const QByteArray after = fileBytes(panel.config.fileName());
    QCOMPARE(after, confirmed ? before + "\n[Ports]\nCOM1=" + link + '\n' : before);
    panel.click(7);
    QCOMPARE(plugged.front()->readAll(), confirmed ? commands({7}) : QByteArray());
    QCOMPARE(panel.messages.count(), 0);
}

QTEST_MAIN(TestDeviceChoice)
#include "test_device_choice.moc"
