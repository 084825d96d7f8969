#include "link/port_choice.h"

#include "link/failure.h"
#include "link/link.h"

namespace queltor {

void switchPort(Link &link, int n, const std::function<void()> &steps,
                const std::function<void(const Failure &)> &failed)
{
    const auto step = [&failed](const std::function<void()> &action) {
        try {
            action();
        } catch (const Failed &e) {
            failed(e.failure());
        }
    };
    step([&] { link.setPortOpen(false); });
    if (steps)
        step(steps);
    step([&] { link.setCommPort(n); });
    step([&] { link.setPortOpen(true); });
}

} // namespace queltor
