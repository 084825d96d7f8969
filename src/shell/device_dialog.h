#pragma once

#include "link/device_list.h"

#include <QByteArray>
#include <QDialog>
#include <QList>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace queltor {

// Set > Serial Port > Choose Device: the serial devices plugged in, and a
// field for any path. Choosing a device puts the path it is stored by in the
// field; what the field holds when the dialog is accepted is the choice. The
// list says who holds a device that is in use, follows devices plugged in
// and pulled out while it is open, and Refresh lists them again.
class DeviceDialog : public QDialog
{
    Q_OBJECT
public:
    using Lister = QList<SerialDevice> (*)(const QByteArray &byIdFolder);

    // port names the port being mapped ("COM1"); current is the device it maps
    // to now. The devices are those lister finds with byIdFolder's links.
    DeviceDialog(const QByteArray &byIdFolder, const QString &port, const QByteArray &current,
                 QWidget *parent = nullptr, Lister lister = &serialDevices);

    // The path to store, byte for byte: the chosen device's, or the text typed.
    QByteArray chosenPath() const { return m_chosen; }

    // Lists the devices again, keeping the choice.
    void refresh();

    // A line above the list that says why the dialog opened by itself.
    void setIntroduction(const QString &text);

private:
    static QString holderOf(const SerialDevice &device);
    void deviceChosen();
    void pathEdited(const QString &text);
    void fitList();

    QByteArray m_folder;
    Lister m_lister;
    QList<SerialDevice> m_devices;
    QByteArray m_chosen;
    QLabel *lblIntroduction = nullptr;
    QLabel *m_listLabel = nullptr;
    QLabel *lblNoDevices = nullptr;
    QTreeWidget *lstDevices = nullptr;
    QLineEdit *txtPath = nullptr;
    QPushButton *cmdOK = nullptr;
};

} // namespace queltor
