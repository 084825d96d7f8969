#pragma once

#include "remote/protocol.h"

#include <QStringList>

namespace queltor {

class SettingsStore;

// `select` when no panel runs: the channel is checked against the stored bank,
// the stored port is opened through the same port code as the panel's (the
// same device map, lock and line settings), the one command is written and
// the port closed. What the panel would warn about at start-up goes to
// warnings; the settings it falls back to are used, as the panel uses them.
remote::Reply selectWithoutPanel(const SettingsStore &store, int channel, QStringList *warnings);

} // namespace queltor
