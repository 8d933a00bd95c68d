// The remote data module's thread: the connection it owns, the queue of calls that run on it (or,
// for the embedded server, the calls run on the thread that opened it), and reconnection when the
// database went away. The methods themselves are in rdmimpoprato.cpp.
#include "rdmimpoprato.h"
#include "preview.h"
#include "database.h"
#include "dberror.h"
#include "framework.h"
#include "importhistory.h"
#include "importorigin.h"
#include "messages.h"
#include "transactionguard.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <libpq-fe.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

struct RdmImpoPrato::Worker {
    QString url;
    QString connectionName;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::packaged_task<Result<QByteArray>()>> queue;
    bool stopping = false;
    QSqlDatabase db; // touched only on `thread`
    RdmMethods::Prepared prepared; // on db, same thread

    std::atomic<bool> open{false};    // what the last open, call or probe found

    bool direct = false;              // runs requests on the thread that opened it
    std::thread::id owner;            // that thread, when direct
    std::mutex directMutex;

    // Opens the connection on the calling thread.
    Status openDb()
    {
        {
            auto r = Database::open(url, connectionName);
            if (!r)
                return r.failure();
            db = r.value();
        }
        // A database without the destination's tables would fail every call later, one by one. The
        // probe is also the first real read: a file that is no database, or a WAL file that cannot
        // be opened, fails here, and says so rather than that the tables are missing.
        std::optional<Failure> failure;
        {
            QSqlQuery probe(db);
            if (!probe.exec(QStringLiteral("SELECT COUNT(*) FROM PRATO WHERE 1 = 0"))) {
                const QSqlError e = probe.lastError();
                const QString text = e.text().toLower();
                if (e.nativeErrorCode() == QLatin1String("42P01") || text.contains(QLatin1String("no such table")))
                    failure = Failure{Msg(QStringLiteral("BD_SemTabelas")), QStringLiteral("BD_SemTabelas"), e.text()};
                else
                    failure = DbError::describe(QStringLiteral("abrir o banco de dados %1").arg(DbUrl::display(url)), e);
            }
        }
        if (failure) {
            closeDb();
            return *failure;
        }
        // A destination made before the import history had it gets its table here. One that cannot
        // take it (read-only) still serves every reading; its imports fail on the history row.
        if (Status s = ImportHistory::ensureTable(db); !s)
            reportFailureDetail(s.failure());
        if (Database::kindOf(db) == DbKind::SQLite) {
            // An import touches every page of its tables' indexes; a larger page cache than
            // SQLite's 2 MB default keeps the pages it returns to in memory for the length of the
            // transaction. 8 MiB: the cache fills up to its limit on a large import, beside the
            // client's tables and packets in the same process, and 32 or 256 MiB took no less
            // CPU time on a first import or a second one of 100,000 or 900,000 dishes.
            QSqlQuery(db).exec(QStringLiteral("PRAGMA cache_size = -8192"));
        }
        open = true;
        return okStatus();
    }

    // Whether the connection is known to be gone (PostgreSQL restarted, the backend ended). Only
    // libpq can tell; an SQLite file has no connection to lose.
    bool connectionLost() const
    {
        if (!db.isValid() || !db.isOpen())
            return true;
        const QVariant h = db.driver()->handle();
        if (h.isValid() && (qstrcmp(h.typeName(), "PGconn*") == 0 || qstrcmp(h.typeName(), "pg_conn*") == 0)) {
            PGconn *conn = *static_cast<PGconn *const *>(h.constData());
            return !conn || PQstatus(conn) != CONNECTION_OK;
        }
        return false;
    }

    // Opens the connection again; false (the old one closed) when the database is still away.
    bool reconnect()
    {
        closeDb();
        return openDb().ok();
    }

    // Runs one call. A call that finds the connection gone reconnects and runs once more, but only
    // when it began no transaction: a call that did may have written, and is not run twice.
    Result<QByteArray> run(const QString &method, const CallArgs &args)
    {
        if (connectionLost() && !reconnect())
            return Result<QByteArray>::fail(DbError::describe(QStringLiteral("executar %1").arg(method), QStringLiteral("08006"),
                                                              QStringLiteral("no connection to the server")));
        const int began = TransactionGuard::begunOnThisThread();
        auto r = RdmMethods::run(db, method, args, &prepared);
        if (!r && r.failure().key == QLatin1String("BD_ConexaoPerdida") && TransactionGuard::begunOnThisThread() == began
            && reconnect())
            r = RdmMethods::run(db, method, args, &prepared);
        if (!r && r.failure().key == QLatin1String("BD_ConexaoPerdida"))
            open = false;
        return r;
    }

    // The health path's question. PostgreSQL tells that a server went away only when it is next
    // asked something, so a trivial query is asked; the connection is opened again when it fails.
    bool probe()
    {
        if (connectionLost() && !reconnect())
            return false;
        bool answered = false;
        {
            QSqlQuery q(db);
            answered = q.exec(QStringLiteral("SELECT 1")) && q.next();
        }
        if (!answered && !reconnect())
            return false;
        open = true;
        return true;
    }

    void closeDb()
    {
        open = false;
        prepared = {};
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName);
    }

    void loop(std::promise<Status> opened)
    {
        const Status status = openDb();
        opened.set_value(status);
        if (!status)
            return;
        for (;;) {
            std::packaged_task<Result<QByteArray>()> task;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return stopping || !queue.empty(); });
                if (queue.empty())
                    break;
                task = std::move(queue.front());
                queue.pop_front();
            }
            task();
        }
        closeDb();
    }
};

RdmImpoPrato::RdmImpoPrato() : m_worker(std::make_unique<Worker>()) {}

static QString nextConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("imp40500_rdm_%1").arg(++counter);
}

Result<std::shared_ptr<RdmImpoPrato>> RdmImpoPrato::openDirect(const QString &databaseUrl)
{
    std::shared_ptr<RdmImpoPrato> module(new RdmImpoPrato);
    Worker &w = *module->m_worker;
    w.url = databaseUrl;
    w.connectionName = nextConnectionName();
    w.direct = true;
    w.owner = std::this_thread::get_id();
    if (const Status opened = w.openDb(); !opened) {
        reportFailureDetail(opened.failure());
        return opened.failure();
    }
    return module;
}

// Starts the worker's thread, which opens its connection; its failure when it could not.
static Status startWorker(RdmImpoPrato::Worker &w, const QString &databaseUrl)
{
    w.url = databaseUrl;
    w.connectionName = nextConnectionName();
    std::promise<Status> opened;
    std::future<Status> result = opened.get_future();
    w.thread = std::thread([&w, p = std::move(opened)]() mutable { w.loop(std::move(p)); });
    const Status status = result.get();
    if (!status)
        w.thread.join();
    return status;
}

static void stopWorker(RdmImpoPrato::Worker &w)
{
    if (!w.thread.joinable())
        return;
    {
        std::lock_guard lock(w.mutex);
        w.stopping = true;
    }
    w.wake.notify_all();
    w.thread.join();
}

Result<std::shared_ptr<RdmImpoPrato>> RdmImpoPrato::open(const QString &databaseUrl)
{
    std::shared_ptr<RdmImpoPrato> module(new RdmImpoPrato);
    module->m_quick = std::make_unique<Worker>();
    Status status = startWorker(*module->m_worker, databaseUrl);
    if (status)
        status = startWorker(*module->m_quick, databaseUrl);
    if (!status) {
        reportFailureDetail(status.failure());
        return status.failure();
    }
    return module;
}

RdmImpoPrato::~RdmImpoPrato()
{
    if (m_worker->direct) {
        if (std::this_thread::get_id() == m_worker->owner)
            m_worker->closeDb();
        return;
    }
    stopWorker(*m_worker);
    if (m_quick)
        stopWorker(*m_quick);
}

// The calls that answer from a lookup or a table's columns in milliseconds: on a server they run
// on a thread and connection of their own, never queued behind an import or a preview, which may
// take minutes. The import still runs one at a time, on one connection.
static bool quickCall(const QString &method)
{
    return method.startsWith(QLatin1String("Get")) && method != QLatin1String(RdmMethods::kPreviewMethod);
}

Result<QByteArray> RdmImpoPrato::call(const QString &method, const CallArgs &args)
{
    using Reply = Result<QByteArray>;
    Worker &w = m_quick && quickCall(method) ? *m_quick : *m_worker;
    // The caller's import origin goes with the request to the thread that runs it.
    const auto run = [&w, &method, &args, origin = ImportOrigin::current()]() -> Reply {
        const ImportOrigin::Scope scope(origin);
        try {
            return w.run(method, args);
        } catch (const std::bad_alloc &) {
            return Reply::fail(QStringLiteral("Memória insuficiente para %1.").arg(method));
        } catch (const std::exception &e) {
            return Reply::fail(QStringLiteral("Falha em %1: %2").arg(method, QString::fromUtf8(e.what())));
        } catch (...) {
            return Reply::fail(QStringLiteral("Falha desconhecida em %1.").arg(method));
        }
    };
    if (w.direct) {
        // The connection belongs to the thread that opened the module; another thread may not use it.
        if (std::this_thread::get_id() != w.owner)
            return Reply::fail(QStringLiteral("O servidor embutido só atende a thread que o abriu."));
        std::lock_guard lock(w.directMutex);
        return run();
    }
    std::packaged_task<Reply()> task(run);
    std::future<Reply> reply = task.get_future();
    {
        std::lock_guard lock(w.mutex);
        if (w.stopping)
            return Reply::fail(QStringLiteral("O servidor de aplicação está sendo encerrado."));
        w.queue.push_back(std::move(task));
    }
    w.wake.notify_one();
    return reply.get();
}

bool RdmImpoPrato::databaseOpen()
{
    // Asked where the quick calls run: the answer does not wait for an import.
    Worker &w = m_quick ? *m_quick : *m_worker;
    if (w.direct) {
        if (std::this_thread::get_id() != w.owner)
            return w.open;
        std::lock_guard lock(w.directMutex);
        return w.probe();
    }
    // The task may outlive this call (a long import ahead of it): it owns its promise.
    auto answer = std::make_shared<std::promise<bool>>();
    std::future<bool> reply = answer->get_future();
    {
        std::lock_guard lock(w.mutex);
        if (w.stopping)
            return false;
        w.queue.emplace_back([&w, answer]() -> Result<QByteArray> {
            bool open = false;
            try {
                open = w.probe();
            } catch (...) {
            }
            answer->set_value(open);
            return QByteArray();
        });
    }
    w.wake.notify_one();
    if (reply.wait_for(std::chrono::seconds(2)) == std::future_status::ready)
        return reply.get();
    return w.open;
}

QStringList RdmImpoPrato::methodNames()
{
    return {QStringLiteral("GetDiretorios"), QStringLiteral("SetDiretorios"), QStringLiteral("GetParamGeral"),
            QStringLiteral("GetPrato"),      QStringLiteral("GetRecePadr"),   QStringLiteral("GetReceServ"),
            QStringLiteral("GetReceFili"),   QStringLiteral("GetPratPadr"),   QStringLiteral("GetPratFili"),
            QStringLiteral("GetPratServ"),   QStringLiteral("GetPesqPrato"),  QStringLiteral("Importacao"),
            QLatin1String(RdmMethods::kPreviewMethod), QStringLiteral("Desfazer")};
}
