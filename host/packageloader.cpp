#include "packageloader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

// The package lies beside the executable in the build tree; an installed host finds it in the
// project's own library folder (IMP_PACKAGE_DIR, relative to the executable's).
PackageLoader::PackageLoader(QString baseName)
{
    const QDir here(QCoreApplication::applicationDirPath());
    QString dir = here.path();
    const QDir installed(here.filePath(QStringLiteral(IMP_PACKAGE_DIR)));
    const auto holds = [&baseName](const QDir &d) {
        return QFileInfo::exists(d.filePath(QStringLiteral("lib%1.so").arg(baseName)))
            || QFileInfo::exists(d.filePath(baseName + QStringLiteral(".so")));
    };
    if (!holds(here) && holds(installed))
        dir = installed.path();
    m_library.setFileName(QDir(dir).filePath(baseName));
}

PackageLoader::~PackageLoader() = default;

bool PackageLoader::ensureLoaded(const ImpPackageHost &host)
{
    if (m_initialized)
        return true;
    if (!m_library.load()) {
        m_error = QStringLiteral("Não foi possível carregar o pacote %1: %2")
                      .arg(m_library.fileName(), m_library.errorString());
        return false;
    }
    auto initialize = reinterpret_cast<ImpInitializeFn>(m_library.resolve("Initialize"));
    m_finalize = reinterpret_cast<ImpFinalizeFn>(m_library.resolve("Finalize"));
    m_info = reinterpret_cast<ImpGetPackageInfoTableFn>(m_library.resolve("GetPackageInfoTable"));
    m_iniProc = reinterpret_cast<ImpIniProcFn>(m_library.resolve("IniProc"));
    // The export screen came later: a package without it still opens the import screen.
    m_iniProcExportacao = reinterpret_cast<ImpIniProcFn>(m_library.resolve("IniProcExportacao"));
    if (!initialize || !m_finalize || !m_info || !m_iniProc) {
        m_error = QStringLiteral("O pacote %1 não tem os pontos de entrada esperados.").arg(m_library.fileName());
        return false;
    }
    const ImpPackageInfo *info = m_info();
    if (!info || info->structSize < sizeof(ImpPackageInfo) || !(info->flags & IMP_PACKAGE_RUN_ONLY)) {
        m_error = QStringLiteral("O pacote %1 não é um pacote de execução.").arg(m_library.fileName());
        return false;
    }
    if (initialize(&host) != 0) {
        m_error = QStringLiteral("O pacote %1 recusou a inicialização.").arg(m_library.fileName());
        return false;
    }
    m_initialized = true;
    return true;
}

bool PackageLoader::iniProc(const ImpPackageHost &host)
{
    if (!ensureLoaded(host))
        return false;
    m_iniProc();
    return true;
}

bool PackageLoader::iniProcExportacao(const ImpPackageHost &host)
{
    if (!ensureLoaded(host))
        return false;
    if (!m_iniProcExportacao) {
        m_error = QStringLiteral("O pacote %1 não tem a tela de exportação.").arg(m_library.fileName());
        return false;
    }
    m_iniProcExportacao();
    return true;
}

void PackageLoader::finalize()
{
    if (m_initialized && m_finalize)
        m_finalize();
    m_initialized = false;
    // Not unloaded: Qt may still hold metadata of the package's classes until the process ends.
}

const ImpPackageInfo *PackageLoader::info() const
{
    return m_info ? m_info() : nullptr;
}
