#include "remote/select_without_panel.h"

#include "channel/bank.h"
#include "channel/command.h"
#include "link/failure.h"
#include "link/serial_port.h"
#include "link/settings_store.h"
#include "link/stored_choices.h"

namespace queltor {

remote::Reply selectWithoutPanel(const SettingsStore &store, int channel, QStringList *warnings)
{
    namespace code = remote::code;
    const StoredChoices stored = readStoredChoices(store);
    // A file that cannot be used may map the port elsewhere: the panel opens nothing then, nor does this.
    if (!stored.fileUsable)
        return remote::Reply::failed(code::kPort, stored.failures.constFirst().text());
    for (const Failure &failure : stored.failures) {
        if (warnings)
            *warnings << failure.text();
    }

    const int count = bank::channelCount(stored.bankIndex);
    if (!isChannel(channel) || channel >= count)
        return remote::outsideBank(channel, count);
    try {
        SerialPort port(store);
        port.setCommPort(stored.port);
        port.setPortOpen(true);
        port.output(channelCommand(channel));
        port.setPortOpen(false);
    } catch (const Failed &e) {
        return remote::Reply::failed(code::kPort, e.failure().text());
    }
    return remote::Reply::done();
}

} // namespace queltor
