#pragma once

#include "link/failure.h"

#include <QString>

namespace queltor {

// A failure of the port, thrown as one message by the port's own code.
class LinkError : public Failed
{
public:
    using Cause = Failure::Cause;

    using Failed::Failed;
    // condition is the short form for a status line; empty when the message says nothing shorter.
    explicit LinkError(const QString &message, Cause cause = Cause::Other, const QString &condition = {});

    QString message() const { return failure().text(); }
    Cause cause() const noexcept { return failure().cause; }
    const QString &condition() const noexcept { return failure().condition; }
};

// The system's "Not a directory" worded to stand inside our sentence: "...: not a directory."
QString asClause(QString text);

// The system's words for errno value error, as a clause.
QString errnoClause(int error);

} // namespace queltor
