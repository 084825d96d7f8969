#include "link/link_error.h"

#include <cstring>
#include <utility>

namespace queltor {

LinkError::LinkError(QString message, Cause cause, QString condition)
    : m_message(std::move(message))
    , m_cause(cause)
    , m_condition(std::move(condition))
    , m_what(m_message.toUtf8())
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
