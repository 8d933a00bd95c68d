#pragma once
// The event-handler boundary: where every action started by a person (a click, a key, a package
// entry point) ends, and the one place where a failure is shown to that person. An action abandoned
// by MensErro is shown here, after every clean-up on its way out has run (unless it was abandoned
// without a message); any other exception is a fault the person still has to hear about. Both go
// to the message sink (the screen's message boxes, the command line's stderr, a test's recorder).
// Nothing passes into Qt's event loop or out of an extern "C" function.
#include "framework.h"
#include "platform_export.h"

#include <exception>
#include <utility>

namespace HandlerBoundary {
// Shows an abandoned action's text through the message sink when it is to be shown.
IMP_PLATFORM_EXPORT void reportAbandoned(const AbandonedAction &a) noexcept;
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
    } catch (const AbandonedAction &a) {
        HandlerBoundary::reportAbandoned(a);
        return false;
    } catch (const std::exception &e) {
        HandlerBoundary::reportUnexpected(e);
        return false;
    } catch (...) {
        HandlerBoundary::reportUnknown();
        return false;
    }
}
