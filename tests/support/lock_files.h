#pragma once

#include "link/device_access.h"

#include <QFile>
#include <QString>

#include <optional>

// Header only: its users link queltor_link themselves, like every test of link/.
namespace queltor {

// The lock file of the device at path, named after the node the path leads to.
inline QString lockFileOf(const QString &device)
{
    return QFile::decodeName(device_access::lockFilePath(QFile::encodeName(device)));
}

// The process the lock file at path names; nothing when there is no such file.
inline std::optional<qint64> lockHolderIn(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return device_access::lockFilePid(file.readAll());
}

} // namespace queltor
