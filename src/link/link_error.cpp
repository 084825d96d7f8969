#include "link/link_error.h"

#include <cstring>

namespace queltor {

namespace {

Failure portFailure(const QString &message, Failure::Cause cause, const QString &condition)
{
    Failure failure(Failure::Kind::Port, message);
    failure.cause = cause;
    failure.condition = condition;
    return failure;
}

} // namespace

LinkError::LinkError(const QString &message, Cause cause, const QString &condition)
    : Failed(portFailure(message, cause, condition))
{
}

QString asClause(QString text)
{
    if (text.size() > 1 && text.at(0).isUpper() && text.at(1).isLower())
        text[0] = text.at(0).toLower();
    return text;
}

QString errnoClause(int error) { return asClause(QString::fromLocal8Bit(std::strerror(error))); }

} // namespace queltor
