#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace queltor {

// A serial device on this machine, its paths as bytes, as the settings file keeps them.
struct SerialDevice
{
    QByteArray systemPath; // the device itself: "/dev/ttyUSB0"
    QByteArray stableLink; // a link to it named by make and serial number; empty when none
    QString description;
    QString manufacturer;
    QString serialNumber;

    // What a port is mapped to: the stable link where there is one, as the
    // system's own name changes when adapters are plugged in another order.
    QByteArray storedPath() const { return stableLink.isEmpty() ? systemPath : stableLink; }
};

// Where udev publishes one link per serial device, named by make and serial number.
inline constexpr char kByIdFolder[] = "/dev/serial/by-id";

// The serial ports the system lists, each joined with the link in byIdFolder
// that leads to it, and every other character device a link there leads to
// (such as a pseudo-terminal), in the order of storedPath(). Links that lead
// nowhere or to anything but a character device, and files that are not
// links, are passed over.
QList<SerialDevice> serialDevices(const QByteArray &byIdFolder = kByIdFolder);

} // namespace queltor
