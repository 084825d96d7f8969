#pragma once

#include <QStringList>

namespace queltor {

class SettingsStore;

// What start-up restores: the channel-count index and the port number, each
// the stored choice when it is usable and the default otherwise, with one
// warning for the operator per stored value that was not usable.
struct StoredChoices
{
    int bankIndex = 1;
    int port = 1;
    QStringList warnings;
};

StoredChoices readStoredChoices(const SettingsStore &store);

} // namespace queltor
