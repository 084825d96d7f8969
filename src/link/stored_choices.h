#pragma once

#include "link/failure.h"

#include <QList>
#include <QString>

namespace queltor {

class SettingsStore;

// What start-up restores: the channel-count index and the port number, each
// the stored choice when it is usable and the default otherwise, with one
// failure for the operator per stored value that was not usable. A settings
// file that cannot be used at all gives the defaults and one failure, and is
// neither written nor trusted to name a device (fileUsable is false).
struct StoredChoices
{
    int bankIndex = 1;
    int port = 1;
    QList<Failure> failures;
    bool fileUsable = true;
    bool bankStored = false; // bankIndex is a stored ChNum, not the default
};

StoredChoices readStoredChoices(const SettingsStore &store);

// A stored text as a message quotes it: in double quotes, cut to 40 characters with "…".
QString quotedForMessage(const QString &text);

} // namespace queltor
