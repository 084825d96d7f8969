#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Who keeps a serial device from being opened: the UUCP lock file that
// QSerialPort takes beside every port it opens (LCK..ttyUSB0 in /run/lock),
// and the processes that hold the device open.
namespace queltor::port_lock {

// The longest file name the system takes, and so the longest lock file name.
constexpr int kLongestName = 255;

// The lock file's name for the device QSerialPort opens at systemLocation:
// "LCK.." and the path without a leading /dev/, slashes as underscores.
QString lockFileName(const QString &systemLocation);

// Where QSerialPort puts that lock file: in the first of its lock folders it
// may use. Empty when it may use none.
QString lockFilePath(const QString &systemLocation);

// The process number a lock file names, in QSerialPort's form or the
// traditional one (the number alone, space-padded); nothing when there is no
// such file or no number in it.
std::optional<qint64> lockHolder(const QString &lockFile);

// Whether a process of that number runs (a process of another user counts).
bool processRunning(qint64 pid);

// The program a process runs, as a user knows it ("minicom"); empty when unknown.
QString programName(qint64 pid);

// A process other than this one that has the device at path open, from
// /proc/*/fd (only the processes this user may look into).
std::optional<qint64> deviceOpener(const QByteArray &path);

} // namespace queltor::port_lock
