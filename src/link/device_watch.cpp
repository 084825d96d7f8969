#include "link/device_watch.h"

#include "link/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

#include <algorithm>

namespace queltor {

QList<SerialDevice> devicesToOffer(const SettingsStore &store, int port, const QByteArray &byIdFolder)
{
    if (store.namesPortDevice(port) || !store.portDevice(port))
        return {};
    // Most starts end here, without asking the system for its ports.
    if (QDir(QFile::decodeName(byIdFolder)).isEmpty(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        return {};
    QList<SerialDevice> devices = serialDevices(byIdFolder);
    devices.erase(std::remove_if(devices.begin(), devices.end(),
                                 [](const SerialDevice &device) { return device.stableLink.isEmpty(); }),
                  devices.end());
    return devices;
}

void watchFolder(QFileSystemWatcher &watcher, const QString &folder)
{
    QString existing = folder;
    while (!QFileInfo(existing).isDir() && !QDir(existing).isRoot())
        existing = QFileInfo(existing).absolutePath();
    const QStringList watched = watcher.directories();
    if (watched == QStringList{existing})
        return;
    if (!watched.isEmpty())
        watcher.removePaths(watched);
    watcher.addPath(existing);
}

DeviceWatch::DeviceWatch(const QByteArray &byIdFolder, QObject *parent)
    : QObject(parent)
    , m_folder(QFileInfo(QFile::decodeName(byIdFolder)).absoluteFilePath())
    , m_watcher(new QFileSystemWatcher(this))
    , m_settle(new QTimer(this))
{
    m_settle->setSingleShot(true);
    m_settle->setInterval(kSettleMs);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        watchFolder(*m_watcher, m_folder); // the folder may have come or gone
        m_settle->start();
    });
    connect(m_settle, &QTimer::timeout, this, &DeviceWatch::changed);
    watchFolder(*m_watcher, m_folder);
}

} // namespace queltor
