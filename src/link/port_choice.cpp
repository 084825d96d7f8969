#include "link/port_choice.h"

#include "channel/numbers.h"
#include "link/link.h"
#include "link/link_error.h"
#include "link/settings_store.h"

namespace queltor {

QStringList choosePort(Link &port, SettingsStore &store, int n, const std::function<void(int)> &markChosen)
{
    QStringList failures;
    const auto step = [&failures](const std::function<void()> &action) {
        try {
            action();
        } catch (const LinkError &e) {
            failures << e.message();
        }
    };
    step([&] { port.setPortOpen(false); });
    step([&] { store.write(SettingsStore::kComPort, decimalText(n)); });
    step([&] { port.setCommPort(n); });
    markChosen(n);
    step([&] { port.setPortOpen(true); });
    return failures;
}

} // namespace queltor
