#pragma once

#include "link/failure.h"

#include <QString>

// Header only: its users link queltor_link themselves, like every test of link/.
namespace queltor {

// The text of the failure that f throws, or a null string when it throws none.
template <typename F>
QString failureOf(F f)
{
    try {
        f();
    } catch (const Failed &e) {
        return e.failure().text();
    }
    return QString();
}

} // namespace queltor
