#pragma once

#include <QStringList>

#include <functional>

namespace queltor {

class Link;
class SettingsStore;

// Moves the link to port n: close, save the choice, renumber, move the check
// mark (markChosen), open. Every step runs even when an earlier one failed, so
// the choice is saved and marked even when the new port cannot be opened.
// Returns what failed, in plain words; closing an already closed port is not a failure.
QStringList choosePort(Link &port, SettingsStore &store, int n, const std::function<void(int)> &markChosen);

} // namespace queltor
