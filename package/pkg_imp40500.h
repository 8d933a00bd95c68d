#pragma once
// The package's C interface, as the host sees it: what the host lends the package on load, and the
// package information its loader reads. The host resolves the entry points by name with QLibrary:
//
//   int  Initialize(const ImpPackageHost *host)    once, after loading; 0 when the package is ready
//   void Finalize(void)                            once, before unloading
//   const ImpPackageInfo *GetPackageInfoTable(void)
//   void IniProc(void)                             opens the screen, or restores and fronts it
//   void CriaImpoPrat(void)                        what IniProc runs
//   void IniProcExportacao(void)                   opens the export screen, or fronts it
//   TfrmImpoPrato *frmImpoPrato                    the screen instance (variable)
//   bool boIdCriado                                an instance exists (variable)
//
// No entry point lets an exception out; failures are shown to the operator where they happen.

#ifdef __cplusplus
class QApplication;
class QMainWindow;
class QMdiArea;
class Ambiente;
#else
typedef struct QApplication QApplication;
typedef struct QMainWindow QMainWindow;
typedef struct QMdiArea QMdiArea;
typedef struct Ambiente Ambiente;
#endif

#ifdef __cplusplus
extern "C" {
#endif

// What the host lends the package. The package keeps the pointers until Finalize.
typedef struct ImpPackageHost {
    unsigned structSize;       // sizeof(ImpPackageHost), for later growth
    QApplication *application; // the host's application object
    QMainWindow *mainWindow;   // the main window the busy indicator and dialogs sit over
    QMdiArea *mdiArea;         // where the screen opens as a child window
    Ambiente *ambiente;        // the signed-in operator's environment (the platform library's one)
} ImpPackageHost;

// Package kind flags, as the business system's runtime numbers them.
enum {
    IMP_PACKAGE_NEVER_BUILD = 0x01, // never rebuilt implicitly
    IMP_PACKAGE_DESIGN_ONLY = 0x02,
    IMP_PACKAGE_RUN_ONLY = 0x04,
};

// Unit flags.
enum {
    IMP_UNIT_MAIN = 0x01,       // the package's main unit
    IMP_UNIT_PACKAGE = 0x02,    // a unit of the package proper
    IMP_UNIT_RUNTIME = 0x04,    // runtime start-up
};

typedef struct ImpPackageUnit {
    const char *name;
    unsigned flags;
} ImpPackageUnit;

typedef struct ImpRequiredPackage {
    const char *name;      // the package the business system's loader knows
    const char *providedBy; // what provides it in this build
} ImpRequiredPackage;

typedef struct ImpPackageInfo {
    unsigned structSize;
    unsigned flags;                 // IMP_PACKAGE_RUN_ONLY | IMP_PACKAGE_NEVER_BUILD
    const char *packageName;        // "PKG_IMP40500"
    int unitCount;
    const ImpPackageUnit *units;
    int requiresCount;              // in load order
    const ImpRequiredPackage *requiredPackages;
    const char *fileVersion;        // "4.05.146"
    const char *productVersion;     // "4.05.146"
    unsigned short versionNumbers[4]; // 4, 5, 146, 0
    unsigned short language;        // 0x0416, Portuguese (Brazil)
    unsigned short codePage;        // 1252
} ImpPackageInfo;

typedef int (*ImpInitializeFn)(const ImpPackageHost *host);
typedef void (*ImpFinalizeFn)(void);
typedef const ImpPackageInfo *(*ImpGetPackageInfoTableFn)(void);
typedef void (*ImpIniProcFn)(void);

#ifdef __cplusplus
}
#endif
