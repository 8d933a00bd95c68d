#pragma once
// Loads the runtime package PKG_IMP40500 from the executable's directory (or, installed, from the
// project's library folder beside bin/), hands it the host
// (application, main window, MDI area, operator environment) through its Initialize entry, and
// calls IniProc whenever the operator asks for the screen. The package stays loaded until exit.
#include "pkg_imp40500.h"

#include <QLibrary>
#include <QString>

class PackageLoader {
public:
    explicit PackageLoader(QString baseName = QStringLiteral("PKG_IMP40500"));
    ~PackageLoader();

    // Loads and initialises on first use. False with error() when that fails.
    bool ensureLoaded(const ImpPackageHost &host);
    bool isLoaded() const { return m_initialized; }
    // Opens or restores the screen. False when the package could not be loaded.
    bool iniProc(const ImpPackageHost &host);
    // Opens or restores the export screen. False when the package could not be loaded or has none.
    bool iniProcExportacao(const ImpPackageHost &host);
    // Lets the package tear its screen and hooks down (before the main window goes).
    void finalize();

    const ImpPackageInfo *info() const;
    QString error() const { return m_error; }
    QString fileName() const { return m_library.fileName(); }

private:
    QLibrary m_library;
    bool m_initialized = false;
    QString m_error;
    ImpIniProcFn m_iniProc = nullptr;
    ImpIniProcFn m_iniProcExportacao = nullptr;
    ImpFinalizeFn m_finalize = nullptr;
    ImpGetPackageInfoTableFn m_info = nullptr;
};
