#pragma once
// A seeded destination (the demo data of `initdb --demo`: branch 0001, services 00001 ALMOCO,
// 00002 JANTAR, 00003 CAFÉ DA MANHÃ, 00004 CEIA, units KG G L ML UN PORC, products 000101 to
// 000114, local dish 000900 "PUDIM DE LEITE CONDENSADO") with the application server module on it,
// reached through one transport: in-process, or HTTP on 127.0.0.1 with an ephemeral port. A
// temporary directory holds the export files a test writes.
#include "appserver.h"
#include "exportwriter.h"
#include "httpserver.h"
#include "rdmimpoprato.h"
#include "seeddb.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>

class SeededServer {
public:
    enum class Transport { InProcess, Http };

    std::unique_ptr<SeededDb> db;
    std::shared_ptr<RdmImpoPrato> module;
    std::unique_ptr<HttpServer> http;
    NetConnection net;
    QTemporaryDir dir;

    // nullptr with *why: the database kind is not available (see SeededDb::available) or a failure.
    // Over HTTP the server refuses a request without `token` and any body over maxRequestBytes.
    static std::unique_ptr<SeededServer> make(const QString &kind, Transport transport, QString *why,
                                              const QString &token = {},
                                              qint64 maxRequestBytes = HttpServer::kDefaultMaxRequestBytes);
    // "http" or anything else (in-process).
    static Transport transportOf(const QString &transport);

    SeededServer() = default;
    virtual ~SeededServer();
    SeededServer(const SeededServer &) = delete;
    SeededServer &operator=(const SeededServer &) = delete;

    // Makes the destination the operator environment's database (Ambiente::databaseUrl, pt_BR
    // export files), as the screen and the command line have it; undone at destruction.
    void useAsOperatorDatabase();
    // Runs a statement of the test's own on the destination; false (with a warning) when it fails.
    bool exec(const QString &sql);
    // Writes the export file into the temporary directory; its path.
    QString write(const ExportWriter &w, const QByteArray &eol = "\r\n",
                  const QString &name = QStringLiteral("f.txt"));

protected:
    bool open(const QString &kind, Transport transport, QString *why, const QString &token = {},
              qint64 maxRequestBytes = HttpServer::kDefaultMaxRequestBytes);

private:
    bool m_operatorDatabase = false;
};

// initTestCase_data of the suites that run once per destination database.
void bothDatabases();
// The rows "sqlite" and "postgresql" of a test's own column "backend".
void bothBackends();

// Skips the current test when this run has no database of that kind ("sqlite"/"postgresql").
#define SKIP_UNLESS_AVAILABLE(kind)                                                                  \
    if (!SeededDb::available(kind))                                                                  \
        QSKIP("PostgreSQL not configured (IMP_TEST_PG_URL)");

// A fresh demo destination of `kind` in the new variable `db`, a failure's reason in the new `why`;
// skips a kind this run does not have.
#define MAKE_SEEDED_DB(db, kind, why)                                                                \
    SKIP_UNLESS_AVAILABLE(kind)                                                                      \
    QString why;                                                                                     \
    auto db = SeededDb::create(kind, true, &why);                                                    \
    QVERIFY2(db, qPrintable(why));

// Fills `target` from the database of the current global row (`factory(kind, &why)`); skips a
// database this run does not have.
#define OPEN_FOR_DATABASE_ROW(target, factory)                                                       \
    QFETCH_GLOBAL(QString, db);                                                                      \
    SKIP_UNLESS_AVAILABLE(db)                                                                        \
    QString why_;                                                                                    \
    target = factory(db, &why_);                                                                     \
    QVERIFY2(target, qPrintable(why_));
