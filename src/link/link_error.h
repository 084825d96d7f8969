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
    explicit LinkError(QString message);

    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_message;
    QByteArray m_what;
};

// The system's "Not a directory" worded to stand inside our sentence: "...: not a directory."
QString asClause(QString text);

// The system's words for errno value error, as a clause.
QString errnoClause(int error);

} // namespace queltor
