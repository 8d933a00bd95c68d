#pragma once
// A destination with the application server module on it, for the tests of the load pass and the
// service map: the demo data of `initdb --demo` (branch 0001, services 00001 ALMOCO, 00002 JANTAR,
// 00003 CAFÉ DA MANHÃ, 00004 CEIA, units KG G L ML UN PORC, products 000101 to 000114, local dish
// 000900 "PUDIM DE LEITE CONDENSADO"), reached in process.
#include "ambiente.h"
#include "appserver.h"
#include "database.h"
#include "exportwriter.h"
#include "framework.h"
#include "importsession.h"
#include "rdmimpoprato.h"
#include "seeddb.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

struct LoadFixture {
    std::unique_ptr<SeededDb> db;
    std::shared_ptr<RdmImpoPrato> module;
    NetConnection net;
    QTemporaryDir dir;

    static std::unique_ptr<LoadFixture> make(const QString &kind, QString *why)
    {
        auto f = std::make_unique<LoadFixture>();
        f->db = SeededDb::create(kind, true, why);
        if (!f->db)
            return nullptr;
        f->module = RdmImpoPrato::open(f->db->url(), why);
        if (!f->module)
            return nullptr;
        f->net.setTransport(std::make_unique<InProcessTransport>(f->module));
        Database::closeShared();
        Ambiente::instance().databaseUrl = f->db->url();
        Ambiente::instance().locale = QLocale(QLocale::Portuguese, QLocale::Brazil);
        return f;
    }
    ~LoadFixture() { Database::closeShared(); }

    bool exec(const QString &sql)
    {
        QSqlQuery q(db->db());
        if (!q.exec(sql)) {
            qWarning() << sql << q.lastError().text();
            return false;
        }
        return true;
    }
    QString write(const ExportWriter &w, const QByteArray &eol = "\r\n", const QString &name = QStringLiteral("f.txt"))
    {
        const QString path = dir.filePath(name);
        w.write(path, eol);
        return path;
    }
};

// initTestCase_data of the suites that run once per destination database.
inline void bothDatabases()
{
    QTest::addColumn<QString>("db");
    QTest::newRow("sqlite") << "sqlite";
    QTest::newRow("postgresql") << "postgresql";
}

// Fills `target` from the database of the current global row (`factory(kind, &why)`); skips
// without PostgreSQL.
#define OPEN_FOR_DATABASE_ROW(target, factory)                                                       \
    QFETCH_GLOBAL(QString, db);                                                                      \
    QString why_;                                                                                    \
    target = factory(db, &why_);                                                                     \
    if (!target && why_.contains(QLatin1String("IMP_TEST_PG_URL")))                                  \
        QSKIP("PostgreSQL not configured (IMP_TEST_PG_URL)");                                        \
    QVERIFY2(target, qPrintable(why_));

// What the pass showed, in order where it matters.
struct RecordingObserver : LoadObserver {
    int maximum = 0;
    QList<int> positions;
    QStringList statuses;
    QList<bool> panels;
    int focusArquivoCalls = 0;
    int enableErrorsCalls = 0;
    int serviceTabShown = 0;
    void setProgressRange(int m) override { maximum = m; }
    void setProgress(int p) override { positions << p; }
    void setStatusText(const QString &t) override { statuses << t; }
    void setPanelsEnabled(bool e) override { panels << e; }
    void focusArquivo() override { ++focusArquivoCalls; }
    void enableErrors() override { ++enableErrorsCalls; }
    void showServiceTab() override { ++serviceTabShown; }
};

// Runs the load pass: "" when it completed, the catalogue key of a refusal, "!" and the text of a
// failure without a key.
inline QString runPass(ImportSession &s)
{
    try {
        s.Grava_Tabelas();
        return {};
    } catch (const AbandonedAction &a) {
        return a.key().isEmpty() ? QLatin1Char('!') + a.text() : a.key();
    }
}

// A sink that keeps messages instead of printing them.
struct QuietSink : MessageSink {
    QStringList errors;
    MessageSink *previous = setMessageSink(this);
    ~QuietSink() override { setMessageSink(previous); }
    void showError(const QString &t) override { errors << t; }
    void showInfo(const QString &) override {}
};

inline QString cell(const MemTable &t, int row, const char *column)
{
    return t.valueAt(row, t.fieldIndex(QString::fromLatin1(column))).toString();
}
