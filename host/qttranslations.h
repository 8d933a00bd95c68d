#pragma once
// Qt's own translations (the standard dialogs and buttons: "Cancelar", "Abrir", "Examinar:"), from
// the distribution's Qt translations package, for the operator's language.
#include <QLocale>
#include <QString>

namespace QtTranslations {
// Installs Qt's translations for the locale into the application, replacing those installed
// before; also makes the locale the default one. Returns the number of catalogues loaded: 0 when
// the package is not installed or has no catalogue for the language (the dialogs then stay in
// English).
int install(const QLocale &locale);
// Where the catalogues are looked for (Qt's translations directory).
QString directory();
} // namespace QtTranslations
