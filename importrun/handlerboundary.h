#pragma once
// Where an event handler of this folder ends: an action abandoned by MensErro was already shown,
// anything else is a fault the operator still has to hear about. Nothing passes into Qt's loop.
#include "framework.h"

#include <QString>
#include <exception>

namespace ImportRunInternal {

template <typename F>
bool handlerBoundary(F &&handler) noexcept
{
    try {
        handler();
        return true;
    } catch (const AbandonedAction &) {
        return false;
    } catch (const std::exception &e) {
        try {
            messageSink()->showError(QString::fromUtf8(e.what()));
        } catch (...) {
        }
        return false;
    } catch (...) {
        try {
            messageSink()->showError(QStringLiteral("Erro inesperado."));
        } catch (...) {
        }
        return false;
    }
}

} // namespace ImportRunInternal
