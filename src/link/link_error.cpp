#include "link/link_error.h"

#include <utility>

namespace queltor {

LinkError::LinkError(QString message)
    : m_message(std::move(message))
    , m_what(m_message.toUtf8())
{
}

} // namespace queltor
