#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

#include <exception>

namespace queltor {

// Something that went wrong, as the operator hears of it: what failed, why,
// and what to do, with the icon of its box. The settings file, the serial
// link and the window's own checks all speak in failures; the window shows
// them and a script receives the same text in its reply.
struct Failure
{
    // The condition a failure is about. The window shows at most one box per
    // kind: a newer failure of a kind that is on screen takes over its box.
    enum class Kind {
        Port,         // the serial link: a port that cannot be opened or written to, a device gone
        SettingsFile, // the settings file cannot be used at all
        StoredCount,  // the stored channel count cannot be used
        StoredPort,   // the stored port number cannot be used
        NotSaved,     // a choice could not be saved
        ScanRange,    // Start Scan with the end channel below the start channel
        ScanTerm,     // Start Scan with a term the timer cannot take
        Panel,        // the panel failed in a way it did not expect
    };
    enum class Icon { Information, Warning };
    // What the link makes of a failure beyond telling it.
    enum class Cause {
        Other,
        DeviceMissing, // the device's path leads nowhere: it may be plugged in later
        DeviceGone,    // the open device went away under the port
    };

    Failure() = default;
    Failure(Kind kind, QString what, QString why = {}, QString todo = {});

    Kind kind = Kind::Panel;
    QString what;  // what failed, a clause: "COM1 (/dev/ttyUSB0) could not be opened"
    QString why;   // why, a clause: "the device does not exist"; empty when what says it all
    QString todo;  // what to do, or what the panel does instead, in sentences; may be empty
    QString title; // the box's title; empty for the panel's name
    Icon icon = Icon::Warning;
    Cause cause = Cause::Other;
    QString condition; // the short form for a status line ("in use by minicom (PID 1234)"); may be empty

    // "What: why. To do." The one text of the failure, for its box and a script's reply.
    QString text() const;
};

// A failure on its way from where it happened to the handler that reports
// it, for callers that must stop where it happened.
class Failed : public std::exception
{
public:
    explicit Failed(Failure failure);

    const Failure &failure() const noexcept { return m_failure; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    Failure m_failure;
    QByteArray m_what;
};

// The system's "Not a directory" worded to stand inside our sentence: "...: not a directory."
QString asClause(QString text);

// The system's words for errno value error, as a clause.
QString errnoClause(int error);

} // namespace queltor

Q_DECLARE_METATYPE(queltor::Failure)
