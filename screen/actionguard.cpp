#include "actionguard.h"

#include <QString>

namespace ActionGuard {

void reportUnexpected(const std::exception &e)
{
    try {
        messageSink()->showError(QString::fromUtf8(e.what()));
    } catch (...) {
        // A sink that fails while reporting has nothing left to tell.
    }
}

void reportUnknown()
{
    try {
        messageSink()->showError(QStringLiteral("Erro inesperado."));
    } catch (...) {
    }
}

} // namespace ActionGuard
