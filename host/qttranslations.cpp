#include "qttranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>
#include <vector>

namespace {
std::vector<std::unique_ptr<QTranslator>> g_installed;
} // namespace

QString QtTranslations::directory()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

int QtTranslations::install(const QLocale &locale)
{
    for (auto &t : g_installed)
        QCoreApplication::removeTranslator(t.get());
    g_installed.clear();
    QLocale::setDefault(locale);

    // "qt" is the catalogue that pulls in the modules' own (qtbase_pt_BR and the rest); a package
    // that ships only qtbase is still enough for the dialogs.
    for (const QString &name : {QStringLiteral("qt"), QStringLiteral("qtbase")}) {
        auto t = std::make_unique<QTranslator>();
        if (!t->load(locale, name, QStringLiteral("_"), directory()))
            continue;
        QCoreApplication::installTranslator(t.get());
        g_installed.push_back(std::move(t));
        break;
    }
    return int(g_installed.size());
}
