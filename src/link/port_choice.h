#pragma once

#include "link/failure.h"

#include <functional>

namespace queltor {

class Link;

// Moves the link to port n: closes it, takes the caller's own steps (such as
// saving the choice and moving the check mark), renumbers it and opens it
// again. Every step runs even when an earlier one failed, so a choice is kept
// even when the new port cannot be opened; each failure goes to failed as it
// happens. Closing an already closed port is not a failure.
void switchPort(Link &link, int n, const std::function<void()> &steps,
                const std::function<void(const Failure &)> &failed);

} // namespace queltor
