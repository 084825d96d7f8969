#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace queltor {

// A failure of the world outside the process (serial device, settings file),
// worded for the operator. The window shows message() as it stands.
class LinkError : public std::exception
{
public:
    // What the link makes of a failure beyond showing it.
    enum class Cause {
        Other,
        DeviceMissing, // the device's path leads nowhere: it may be plugged in later
        DeviceGone,    // the open device went away under the port
    };

    // condition is the short form for a status line ("in use by minicom (PID 1234)");
    // empty when the message says nothing shorter.
    explicit LinkError(QString message, Cause cause = Cause::Other, QString condition = {});

    const QString &message() const noexcept { return m_message; }
    Cause cause() const noexcept { return m_cause; }
    const QString &condition() const noexcept { return m_condition; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_message;
    Cause m_cause;
    QString m_condition;
    QByteArray m_what;
};

// The system's "Not a directory" worded to stand inside our sentence: "...: not a directory."
QString asClause(QString text);

// The system's words for errno value error, as a clause.
QString errnoClause(int error);

} // namespace queltor
