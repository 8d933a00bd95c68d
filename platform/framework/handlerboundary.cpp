#include "handlerboundary.h"
#include "messages.h"

#include <QString>

namespace HandlerBoundary {

void reportAbandoned(const AbandonedAction &a) noexcept
{
    if (!a.toBeShown())
        return;
    try {
        messageSink()->showError(a.text());
    } catch (...) {
        // A sink that fails while reporting has nothing left to tell.
    }
}

void reportUnexpected(const std::exception &e) noexcept
{
    try {
        messageSink()->showError(QString::fromUtf8(e.what()));
    } catch (...) {
        // A sink that fails while reporting has nothing left to tell.
    }
}

void reportUnknown() noexcept
{
    try {
        messageSink()->showError(Msg(QStringLiteral("Erro_Inesperado")));
    } catch (...) {
    }
}

} // namespace HandlerBoundary
