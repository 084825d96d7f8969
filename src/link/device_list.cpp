#include "link/device_list.h"

#include <QFile>
#include <QScopeGuard>
#include <QSerialPortInfo>

#include <algorithm>
#include <utility>

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>

namespace queltor {

namespace {

// The device path leads to, links followed; empty when it leads nowhere.
QByteArray realPath(const QByteArray &path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.constData(), resolved) ? QByteArray(resolved) : QByteArray();
}

bool isCharacterDevice(const QByteArray &path)
{
    struct stat status
    { };
    return ::stat(path.constData(), &status) == 0 && S_ISCHR(status.st_mode);
}

// Each link in folder that leads to a character device, with that device, in name order.
QList<std::pair<QByteArray, QByteArray>> stableLinks(const QByteArray &folder)
{
    QList<std::pair<QByteArray, QByteArray>> links;
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return links; // no adapter plugged in since boot: udev has not made it
    const auto closeDir = qScopeGuard([dir] { ::closedir(dir); });
    const QByteArray prefix = folder.endsWith('/') ? folder : folder + '/';
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray link = prefix + entry->d_name;
        struct stat status
        { };
        if (::lstat(link.constData(), &status) != 0 || !S_ISLNK(status.st_mode))
            continue;
        const QByteArray target = realPath(link);
        if (!target.isEmpty() && isCharacterDevice(target))
            links.append({link, target});
    }
    std::sort(links.begin(), links.end());
    return links;
}

} // namespace

QList<SerialDevice> serialDevices(const QByteArray &byIdFolder)
{
    QList<std::pair<QByteArray, QByteArray>> links = stableLinks(byIdFolder);
    QList<SerialDevice> devices;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        SerialDevice device{
            QFile::encodeName(info.systemLocation()), {}, info.description(), info.manufacturer(), info.serialNumber()};
        const QByteArray real = realPath(device.systemPath);
        const auto link = std::find_if(links.cbegin(), links.cend(), [&](const auto &l) { return l.second == real; });
        if (link != links.cend()) {
            device.stableLink = link->first;
            links.erase(link);
        }
        devices.append(device);
    }
    // What the system does not list as a serial port but a link still names: one entry a device.
    for (const auto &[link, target] : std::as_const(links)) {
        const auto known = [&target = target](const SerialDevice &d) { return d.systemPath == target; };
        if (std::none_of(devices.cbegin(), devices.cend(), known))
            devices.append({target, link, {}, {}, {}});
    }
    std::sort(devices.begin(), devices.end(),
              [](const SerialDevice &a, const SerialDevice &b) { return a.storedPath() < b.storedPath(); });
    return devices;
}

} // namespace queltor
