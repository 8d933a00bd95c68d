#pragma once
// The screen in the host's MDI area on the offscreen platform, over a fresh demo destination and
// the real application server module in this process. The module is watched: each method's calls
// are counted, and one method can be made to fail.
#include "hostwindow.h"
#include "seeddb.h"

#include "ambiente.h"
#include "appserver.h"
#include "frmimpoprato.h"
#include "database.h"
#include "dishgrid.h"
#include "rdmimpoprato.h"
#include "screenhost.h"
#include "scripteddialogs.h"

#include <QApplication>
#include <QDir>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>

class WatchedRdm final : public RemoteDataModule {
public:
    std::shared_ptr<RemoteDataModule> real;
    QHash<QString, int> calls;
    QString failMethod;      // this method answers failWith instead of running
    QString failWith;

    Result<QByteArray> call(const QString &method, const CallArgs &args) override
    {
        ++calls[method];
        if (method == failMethod)
            return Result<QByteArray>::fail(failWith);
        return real->call(method, args);
    }
};

class ScreenFixture {
public:
    std::unique_ptr<SeededDb> db;
    std::shared_ptr<WatchedRdm> rdm;
    QMainWindow *main = nullptr;
    QMdiArea *area = nullptr;
    ScriptedDialogs *dialogs = nullptr;

    // Everything up to the open screen (IniProc); false with the reason when the setup failed.
    bool open(QString *why)
    {
        db = SeededDb::create(SeededDb::Kind::SQLite, true, why);
        if (!db)
            return false;
        Database::closeShared();
        signInDemoOperator();
        Ambiente &amb = Ambiente::instance();
        amb.databaseUrl = db->url();
        amb.locale = QLocale(QLocale::Portuguese, QLocale::Brazil);
        amb.resetPictCache();

        auto module = RdmImpoPrato::open(db->url(), why);
        if (!module)
            return false;
        rdm = std::make_shared<WatchedRdm>();
        rdm->real = module;
        setEmbeddedServerFactory([r = rdm](QString *) -> std::shared_ptr<RemoteDataModule> { return r; });

        installMessageBoxes();
        dialogs = new ScriptedDialogs;
        if (!openHostWindow(main, area)) {
            *why = QStringLiteral("the main window did not become active");
            return false;
        }
        IniProc();
        if (!frmImpoPrato || !boIdCriado) {
            *why = QStringLiteral("IniProc opened no screen: %1").arg(dialogs->errors.join(u'/'));
            return false;
        }
        return true;
    }

    void closeScreen() { closeScreenNow(); }

    ~ScreenFixture()
    {
        closeScreenAndHost(main);
        delete dialogs;
        setEmbeddedServerFactory({});
        rdm.reset();
        Database::closeShared();
        Ambiente::instance().databaseUrl.clear();
    }

    TfrmImpoPrato *screen() const { return frmImpoPrato; }

    static QString samplePath()
    {
        return QDir(qEnvironmentVariable("IMP_SOURCE_DIR", QStringLiteral("."))).filePath(QStringLiteral("samples/pratos-exemplo.txt"));
    }
};
