// Pkg_Ord31000, the package's main unit: the runtime's package protocol (load, unload, package
// information). The screen and its entry points are the unit Cli_IMP40500.
#include "pkg_imp40500.h"

#include "handlerboundary.h"
#include "ambiente.h"
#include "frmexpoprato.h"
#include "frmimpoprato.h"
#include "dialogs.h"
#include "helpviewer.h"
#include "screenhost.h"

#include <QApplication>
#include <QMdiSubWindow>

namespace {

const ImpPackageUnit kUnits[] = {
    {"Pkg_Ord31000", IMP_UNIT_MAIN},
    {"Cli_IMP40500", IMP_UNIT_PACKAGE},
    {"SysInit", IMP_UNIT_RUNTIME},
};

// The packages the screen needs, in the order the loader brings them in, with what stands for
// each in this build.
const ImpRequiredPackage kRequires[] = {
    {"ComponentesNegocio", "imp_platform (TNetConnection, TMessages, consultas, Ambiente)"},
    {"rtl", "Qt6Core"},
    {"ComplementoNegocio1", "(nada chamado diretamente)"},
    {"ComplementoNegocio2", "(nada chamado diretamente)"},
    {"GeralNegocio", "(só a inicialização das unidades)"},
    {"TelasBase", "imp_screen (TfrmPadrImportExport, TBtnPesquisa), dentro do pacote"},
    {"AcessoDados", "Qt6Sql, MemTable"},
    {"vcl", "Qt6Widgets"},
};

const ImpPackageInfo kInfo = {
    sizeof(ImpPackageInfo),
    IMP_PACKAGE_RUN_ONLY | IMP_PACKAGE_NEVER_BUILD,
    "PKG_IMP40500",
    int(sizeof(kUnits) / sizeof(kUnits[0])),
    kUnits,
    int(sizeof(kRequires) / sizeof(kRequires[0])),
    kRequires,
    "4.05.146",
    "4.05.146",
    {4, 5, 146, 0},
    0x0416,
    1252,
};

bool g_initialized = false;

} // namespace

IMP_PACKAGE_EXPORT int Initialize(const ImpPackageHost *host);
IMP_PACKAGE_EXPORT void Finalize();
IMP_PACKAGE_EXPORT const ImpPackageInfo *GetPackageInfoTable();

int Initialize(const ImpPackageHost *host)
{
    int rc = 1;
    runAction([&] {
        if (!host || host->structSize < sizeof(ImpPackageHost) || !host->mdiArea)
            MensErro(QStringLiteral("PKG_IMP40500: a aplicação não informou a janela principal."));
        // The package and the host must share one application object and one operator
        // environment; a second copy of either means the package was built against other libraries.
        if (host->application != qobject_cast<QApplication *>(QCoreApplication::instance())
            || host->ambiente != &Ambiente::instance())
            MensErro(QStringLiteral("PKG_IMP40500: pacote incompatível com a aplicação."));
        setScreenHost(host->mainWindow, host->mdiArea);
        installMessageBoxes();
        g_initialized = true;
        rc = 0;
    });
    return rc;
}

void Finalize()
{
    runAction([] {
        // The package's code goes away with it: no screen, help window, sink or indicator of it
        // may stay behind.
        delete HelpViewer::current();
        if (boIdCriado && frmImpoPrato) {
            if (QMdiSubWindow *sub = frmImpoPrato->subWindow())
                delete sub;
            else
                delete frmImpoPrato;
        }
        boIdCriado = false;
        if (TfrmExpoPrato *exportScreen = Cli_IMP40500::exportScreen()) {
            if (QMdiSubWindow *sub = exportScreen->subWindow())
                delete sub;
            else
                delete exportScreen;
        }
        if (g_initialized) {
            uninstallMessageBoxes();
            clearScreenHost();
            g_initialized = false;
        }
    });
}

const ImpPackageInfo *GetPackageInfoTable()
{
    return &kInfo;
}
