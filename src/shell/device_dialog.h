#pragma once

#include "link/device_list.h"

#include <QByteArray>
#include <QDialog>
#include <QList>

class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace queltor {

// Set > Serial Port > Choose Device: the serial devices plugged in, and a
// field for any path. Choosing a device puts the path it is stored by in the
// field; what the field holds when the dialog is accepted is the choice.
class DeviceDialog : public QDialog
{
    Q_OBJECT
public:
    // port names the port being mapped ("COM1"); current is the device it maps to now.
    DeviceDialog(const QList<SerialDevice> &devices, const QString &port, const QByteArray &current,
                 QWidget *parent = nullptr);

    // The path to store, byte for byte: the chosen device's, or the text typed.
    QByteArray chosenPath() const { return m_chosen; }

private:
    void deviceChosen();
    void pathEdited(const QString &text);

    QList<SerialDevice> m_devices;
    QByteArray m_chosen;
    QTreeWidget *lstDevices = nullptr;
    QLineEdit *txtPath = nullptr;
    QPushButton *cmdOK = nullptr;
};

} // namespace queltor
