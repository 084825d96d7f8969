#pragma once

#include "link/failure.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// Whether a serial device is free, decided the way Linux serial tools agree on
// it: a UUCP lock file in /run/lock named after the device node, whatever link
// reached it (minicom, picocom, cu and Qt write one, each in its own form);
// flock() on an open descriptor (tio, picocom); and the terminal's exclusive
// mode (TIOCEXCL). The panel's port and queltor-ctl without a panel take a
// device through DeviceAccess; whatever shows who holds one asks deviceHolder().
namespace queltor {

// A process that keeps a device from being used.
struct DeviceHolder
{
    enum class Means {
        LockFile, // its lock file names the process
        Flock,    // the process holds flock() on it
        Open,     // the process has it open, and it refused to open again (exclusive mode)
    };
    qint64 pid = 0;
    QString program; // as a user knows it ("minicom"); "another program" when unknown
    Means means = Means::LockFile;
};

// Why a device could not be opened, as a clause ("the port is in use by
// minicom (PID 1234)"), what to do about it, its short form for a status line,
// and what the link makes of it.
struct DeviceRefusal
{
    QString why;
    QString todo;
    QString condition;
    Failure::Cause cause = Failure::Cause::Other;
};

namespace device_access {

// The longest file name the system takes, and so the longest lock file name.
constexpr int kLongestName = 255;

// Where lock files go: /run/lock, or /var/lock on a system without it; empty
// when there is neither.
QByteArray lockFolder();

// The lock file's name for a device path: "LCK.." and the path without its
// leading /dev/, slashes as underscores ("LCK..ttyUSB0", "LCK..pts_4").
QByteArray lockFileName(const QByteArray &path);

// The lock file of the device that path leads to, links resolved; empty when
// the path leads nowhere or there is no lock folder.
QByteArray lockFilePath(const QByteArray &path);

// The process a lock file names: its first line begins with the number, space-padded
// to ten characters (HDB: "      1234\n", maybe followed by the program and
// the user), bare ("1234"), or as QLockFile's first of several lines. Nothing
// when the text names no process.
std::optional<qint64> lockFilePid(QByteArrayView text);

// What a lock file of ours holds: the process, the program and the user, HDB style.
QByteArray lockFileText(qint64 pid, QByteArrayView program, QByteArrayView user);

// Whether a process of that number runs (a process of another user counts).
bool processRunning(qint64 pid);

// Who keeps the device at path from being used, as far as this user can see:
// a running process its lock file names (this one included), one holding
// flock() on it, or another process that has it open; nothing when none does.
std::optional<DeviceHolder> deviceHolder(const QByteArray &path);

// "the device does not exist", "Plug ...": for every way of finding it missing.
DeviceRefusal deviceMissing();

} // namespace device_access

// Exclusive use of one serial device while it is held: our lock file, in HDB
// form so that every tool honours it, and a descriptor of the device that
// holds flock() on it. Given up by release() and by the destructor.
class DeviceAccess
{
public:
    DeviceAccess() = default;
    ~DeviceAccess();
    DeviceAccess(DeviceAccess &&other) noexcept;
    DeviceAccess &operator=(DeviceAccess &&other) noexcept;
    DeviceAccess(const DeviceAccess &) = delete;
    DeviceAccess &operator=(const DeviceAccess &) = delete;

    // Takes the device that path leads to, links followed: nothing when it is
    // ours now, else why not. A lock file whose process runs is honoured; one
    // whose process has ended is removed. Where this user may not write lock
    // files, the device is taken with flock() and exclusive mode alone.
    std::optional<DeviceRefusal> take(const QByteArray &path);

    bool held() const { return m_fd >= 0; }
    // The device node taken, links resolved.
    const QByteArray &node() const { return m_node; }
    // A path that opens the device taken through the descriptor held, unique to
    // this process while it is held: /proc/<pid>/fd/<n>.
    QString openPath() const;

    // No other program of an ordinary user may open the device while it is open
    // here (root is not kept out: flock() is what keeps out another root tool).
    void excludeOthers() const;

    void release();

private:
    int m_fd = -1;
    QByteArray m_node;
    QByteArray m_lockFile; // ours, while we hold one
};

} // namespace queltor
