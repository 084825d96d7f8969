#pragma once

#include "link/link_error.h"

#include <QString>

// Header only: its users link queltor_link themselves, like every test of link/.
namespace queltor {

// The message of the LinkError that f throws, or a null string when it throws none.
template <typename F>
QString linkErrorOf(F f)
{
    try {
        f();
    } catch (const LinkError &e) {
        return e.message();
    }
    return QString();
}

} // namespace queltor
