#pragma once
// The screen in the host's MDI area on the offscreen platform, over a fresh demo destination and
// the real application server module in this process. The module is watched: each method's calls
// are counted, and one method can be made to fail.
#include "hostwindow.h"
#include "destinationreader.h"
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
#include <QFile>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QTest>

class WatchedRdm final : public RemoteDataModule {
public:
    std::shared_ptr<RemoteDataModule> real;
    QHash<QString, int> calls;
    QString failMethod;      // this method answers failWith instead of running
    QString failWith;
    std::function<void(const QString &)> onCall; // runs as each method is called

    Result<QByteArray> call(const QString &method, const CallArgs &args) override
    {
        ++calls[method];
        if (onCall)
            onCall(method);
        if (method == failMethod)
            return Result<QByteArray>::fail(failWith);
        return real->call(method, args);
    }
};

// The screen settles a focus move once Qt has finished moving the focus: `rounds` passes over the
// pending events.
inline void settle(int rounds = 1)
{
    for (int i = 0; i < rounds; ++i)
        QCoreApplication::processEvents();
}

class ScreenFixture {
public:
    QTemporaryDir dir; // the export files a test writes
    std::unique_ptr<SeededDb> db;
    std::shared_ptr<WatchedRdm> rdm;
    QMainWindow *main = nullptr;
    QMdiArea *area = nullptr;
    ScriptedDialogs *dialogs = nullptr;

    // Everything up to the open screen (IniProc); false with the reason when the setup failed.
    bool open(QString *why)
    {
        if (!dir.isValid()) {
            *why = QStringLiteral("no temporary directory: %1").arg(dir.errorString());
            return false;
        }
        db = SeededDb::create(SeededDb::Kind::SQLite, true, why);
        if (!db)
            return false;
        Database::closeShared();
        signInDemoOperator();
        Ambiente &amb = Ambiente::instance();
        Database::useDestination(amb, db->url());
        amb.locale = QLocale(QLocale::Portuguese, QLocale::Brazil);
        amb.resetPictCache();

        auto module = RdmImpoPrato::open(db->url());
        if (!module) {
            if (why)
                *why = module.error();
            return false;
        }
        rdm = std::make_shared<WatchedRdm>();
        rdm->real = module.value();
        setEmbeddedServerFactory([r = rdm]() -> Result<std::shared_ptr<RemoteDataModule>> { return std::shared_ptr<RemoteDataModule>(r); });

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

    // Writes `bytes` as the file `name` of dir: its path, empty when it could not be written.
    QString write(const QByteArray &bytes, const QString &name = QStringLiteral("pratos.txt")) const
    {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        return file.fileName();
    }

    // Leaves the parameter panel for the dish grid by clicking into it.
    static void clickDishGrid(int settleRounds = 1)
    {
        QTest::mouseClick(frmImpoPrato->dbgPrato->viewport(), Qt::LeftButton, {}, QPoint(40, 40));
        settle(settleRounds);
    }

    static QString samplePath()
    {
        return QDir(qEnvironmentVariable("IMP_SOURCE_DIR", QStringLiteral("."))).filePath(QStringLiteral("samples/pratos-exemplo.txt"));
    }
};

// init() of a screen suite: `fx` holds the open screen; the test fails without it.
#define OPEN_SCREEN(fx)                                                                              \
    fx = std::make_unique<ScreenFixture>();                                                          \
    {                                                                                                \
        QString why_;                                                                                \
        QVERIFY2(fx->open(&why_), qPrintable(why_));                                                 \
    }
