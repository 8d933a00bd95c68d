#pragma once
// The event-handler boundary. An action abandoned by MensErro ends here: its message was shown
// when it was raised, so nothing more is said. Any other exception is a fault the person still
// has to hear about; it is shown through the message sink. Nothing passes into Qt's event loop.
#include "framework.h"

#include <exception>
#include <utility>

namespace ActionGuard {
void reportUnexpected(const std::exception &e);
void reportUnknown();
} // namespace ActionGuard

// Runs the handler; true when it ran to its end, false when it was abandoned or failed.
template <typename F>
bool runAction(F &&handler) noexcept
{
    try {
        std::forward<F>(handler)();
        return true;
    } catch (const AbandonedAction &) {
        return false;
    } catch (const std::exception &e) {
        ActionGuard::reportUnexpected(e);
        return false;
    } catch (...) {
        ActionGuard::reportUnknown();
        return false;
    }
}
