#pragma once

#include "link/device_list.h"

#include <QByteArray>
#include <QList>
#include <QObject>

class QFileSystemWatcher;
class QTimer;

namespace queltor {

class SettingsStore;

// What start-up offers for port while the settings name no device for it:
// the devices plugged in with a stable link in byIdFolder, which adapters
// have and the machine's own ports do not. Nothing when a device is named,
// in the file or for this run, or when the file cannot be used.
QList<SerialDevice> devicesToOffer(const SettingsStore &store, int port, const QByteArray &byIdFolder = kByIdFolder);

// Points watcher at folder, or at the nearest folder above it that exists
// until folder does: a change there is something in folder, or folder
// itself, coming or going.
void watchFolder(QFileSystemWatcher &watcher, const QString &folder);

// Tells when devices may have come or gone: a change to byIdFolder, or to the
// nearest folder above it that exists until udev makes it. udev adds a
// device's links one by one, so a burst of changes is told once.
class DeviceWatch : public QObject
{
    Q_OBJECT
public:
    static constexpr int kSettleMs = 150;

    explicit DeviceWatch(const QByteArray &byIdFolder, QObject *parent = nullptr);

signals:
    void changed();

private:
    QString m_folder;
    QFileSystemWatcher *m_watcher = nullptr;
    QTimer *m_settle = nullptr;
};

} // namespace queltor
