// The real package, loaded as the host loads it: QLibrary from the executable's directory, the
// seven exports resolved by name, the package information, the host handed over, the screen
// opened and torn down again.
#include "fakerdm.h"
#include "pkg_imp40500.h"

#include "ambiente.h"

#include <QApplication>
#include <QLibrary>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>
#include <QTimer>

class PackageTest : public QObject {
    Q_OBJECT

private slots:
    void loadsResolvesAndOpensScreen();
};

// The package's information table as the host reads it: run-only, its version, its units.
static void checkInfoTable(const ImpPackageInfo *pi)
{
    QVERIFY(pi);
    QCOMPARE(pi->structSize, unsigned(sizeof(ImpPackageInfo)));
    QCOMPARE(pi->flags & (IMP_PACKAGE_RUN_ONLY | IMP_PACKAGE_DESIGN_ONLY), unsigned(IMP_PACKAGE_RUN_ONLY));
    QVERIFY(pi->flags & IMP_PACKAGE_NEVER_BUILD);
    QCOMPARE(QByteArray(pi->fileVersion), QByteArray("4.05.146"));
    QCOMPARE(pi->versionNumbers[0], 4);
    QCOMPARE(pi->versionNumbers[1], 5);
    QCOMPARE(pi->versionNumbers[2], 146);
    QCOMPARE(pi->versionNumbers[3], 0);
    QCOMPARE(pi->language, 0x0416);
    QCOMPARE(pi->codePage, 1252);
    QCOMPARE(pi->unitCount, 3);
    QCOMPARE(QByteArray(pi->units[0].name), QByteArray("Pkg_Ord31000"));
    QVERIFY(pi->units[0].flags & IMP_UNIT_MAIN);
    QCOMPARE(QByteArray(pi->units[1].name), QByteArray("Cli_IMP40500"));
    QCOMPARE(QByteArray(pi->units[2].name), QByteArray("SysInit"));
    QCOMPARE(pi->requiresCount, 8);
}

// The package shows its messages in real message boxes; one would wait forever here. The watchdog
// closes any that opens and keeps its title.
static void closeModals(QTimer &watchdog, QStringList &seen)
{
    QObject::connect(&watchdog, &QTimer::timeout, &watchdog, [&seen] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            seen << modal->windowTitle();
            modal->close();
        }
    });
    watchdog.start(50);
}

void PackageTest::loadsResolvesAndOpensScreen()
{
    QStringList modalSeen;
    QTimer watchdog;
    closeModals(watchdog, modalSeen);

    auto rdm = std::make_shared<FakeRdm>();
    rdm->directories = {QStringLiteral("C:\\Exportacoes\\")};
    setEmbeddedServerFactory([rdm]() -> Result<std::shared_ptr<RemoteDataModule>> { return std::shared_ptr<RemoteDataModule>(rdm); });
    Ambiente &amb = Ambiente::instance();
    amb.FiliProc = QStringLiteral("0001");
    amb.NomeFiliProc = QStringLiteral("RESTAURANTE MATRIZ");
    amb.WebURL.clear();

    QLibrary lib(QCoreApplication::applicationDirPath() + QStringLiteral("/PKG_IMP40500"));
    QVERIFY2(lib.load(), qPrintable(lib.errorString()));

    auto initialize = reinterpret_cast<ImpInitializeFn>(lib.resolve("Initialize"));
    auto finalize = reinterpret_cast<ImpFinalizeFn>(lib.resolve("Finalize"));
    auto info = reinterpret_cast<ImpGetPackageInfoTableFn>(lib.resolve("GetPackageInfoTable"));
    auto iniProc = reinterpret_cast<ImpIniProcFn>(lib.resolve("IniProc"));
    auto criaImpoPrat = reinterpret_cast<ImpIniProcFn>(lib.resolve("CriaImpoPrat"));
    auto boIdCriado = reinterpret_cast<bool *>(lib.resolve("boIdCriado"));
    auto frmImpoPrato = reinterpret_cast<QObject **>(lib.resolve("frmImpoPrato"));
    QVERIFY(initialize && finalize && info && iniProc && criaImpoPrat && boIdCriado && frmImpoPrato);
    // Nothing else leaves the package: not the screen's C++ entry, not its class.
    QVERIFY(!lib.resolve("_ZN12Cli_IMP4050012criaImpoPratEv"));
    QVERIFY(!lib.resolve("_ZN13TfrmImpoPrato10FormCreateEP7QObject"));

    checkInfoTable(info());
    if (QTest::currentTestFailed())
        return;

    QVERIFY(!*boIdCriado);

    QMainWindow main;
    auto *area = new QMdiArea(&main);
    main.setCentralWidget(area);
    main.resize(1000, 640);
    main.show();

    // A host that lends nothing is refused; so is one with another operator environment.
    QCOMPARE(initialize(nullptr), 1);
    ImpPackageHost host{sizeof(ImpPackageHost), qobject_cast<QApplication *>(qApp), &main, area, &amb};
    QCOMPARE(initialize(&host), 0);

    iniProc();
    QVERIFY(*boIdCriado);
    QVERIFY(*frmImpoPrato);
    QCOMPARE(area->subWindowList().size(), 1);
    QCOMPARE(area->subWindowList().first()->widget(), qobject_cast<QWidget *>(*frmImpoPrato));
    QCOMPARE(area->subWindowList().first()->windowTitle(), QStringLiteral("Importação de Prato"));
    QCOMPARE(rdm->calls.value(QStringLiteral("GetDiretorios")), 1);

    // The second call only brings the one screen back.
    QObject *first = *frmImpoPrato;
    iniProc();
    QCOMPARE(*frmImpoPrato, first);
    QCOMPARE(area->subWindowList().size(), 1);
    QCOMPARE(rdm->calls.value(QStringLiteral("GetDiretorios")), 1);

    // The sibling export screen, from the same package: one instance too, gone with the package.
    auto iniProcExportacao = reinterpret_cast<ImpIniProcFn>(lib.resolve("IniProcExportacao"));
    QVERIFY(iniProcExportacao);
    iniProcExportacao();
    iniProcExportacao();
    QCOMPARE(area->subWindowList().size(), 2);
    QCOMPARE(area->activeSubWindow()->windowTitle(), QStringLiteral("Exportação de Prato"));

    finalize();
    QVERIFY(!*boIdCriado);
    QVERIFY(area->subWindowList().isEmpty());
    QVERIFY(modalSeen.isEmpty());
    setEmbeddedServerFactory({});
}

QTEST_MAIN(PackageTest)
#include "tst_package.moc"
