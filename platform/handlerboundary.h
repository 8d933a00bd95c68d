#pragma once
// The event-handler boundary: where every action started by a person (a click, a key, a package
// entry point) ends. An action abandoned by MensErro was shown when it was raised, so nothing more
// is said. Any other exception is a fault the person still has to hear about: it goes to the
// message sink (the screen's message boxes, the command line's stderr, a test's recorder). Nothing
// passes into Qt's event loop or out of an extern "C" function.
#include "framework.h"
#include "platform_export.h"

#include <exception>
#include <utility>

namespace HandlerBoundary {
// Shows the exception's text through the message sink; a sink that throws is ignored.
IMP_PLATFORM_EXPORT void reportUnexpected(const std::exception &e) noexcept;
// Shows the catalogue's "unexpected error" through the message sink.
IMP_PLATFORM_EXPORT void reportUnknown() noexcept;
} // namespace HandlerBoundary

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
        HandlerBoundary::reportUnexpected(e);
        return false;
    } catch (...) {
        HandlerBoundary::reportUnknown();
        return false;
    }
}
