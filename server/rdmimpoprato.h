#pragma once
// The remote data module "IMP40500.rdmImpoPrato": the twelve methods the dish-import screen calls,
// run against one destination database. Requests may come from any thread (the HTTP server's
// pool, the screen's thread); they are run one at a time on a thread of the module, which owns a
// database connection, as a QSqlDatabase may only be used by the thread that opened it. A module
// opened with open() has two: one for the lookups and the tables' columns, one for the rest (the
// import, its preview, the directories).
#include "appserver.h"
#include "datapacket.h"
#include "dishsnapshot.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <memory>

class RdmImpoPrato final : public RemoteDataModule {
public:
    // Opens the module on a database URL (sqlite:PATH or postgresql://...). The schema must exist
    // (`imp40500 initdb`). The failure says why the database cannot be opened (the database's own
    // words also go to reportFailureDetail).
    static Result<std::shared_ptr<RdmImpoPrato>> open(const QString &databaseUrl);
    // The same module without a thread of its own: requests run on the thread that opened it, which
    // must be the only one to call it (the server embedded in a one-thread client, where a hand-over
    // to another thread per call would cost more than the call).
    static Result<std::shared_ptr<RdmImpoPrato>> openDirect(const QString &databaseUrl);
    ~RdmImpoPrato() override;

    Result<QByteArray> call(const QString &method, const CallArgs &args) override;
    // Asks the database on the module's thread (and opens the connection again when it was lost).
    // When a call holds that thread for more than two seconds, the answer is what the last call or
    // probe found.
    bool databaseOpen() override;

    static QStringList methodNames();

private:
    RdmImpoPrato();

public:
    struct Worker;

private:
    std::unique_ptr<Worker> m_worker;
    std::unique_ptr<Worker> m_quick; // the lookups' thread, on a module with threads of its own
};

// The methods themselves, on a connection of the calling thread. Each takes the decoded
// arguments and gives the payload or a failure; a failure leaves the database as it was.
namespace RdmMethods {
// How the methods read a client's packets: a text longer than its column is refused by name, never
// cut. The screen and the command line cut their values to the columns before they send them.
inline DataPacket::Limits clientPackets()
{
    DataPacket::Limits limits;
    limits.refuseLongText = true;
    return limits;
}
// Statements a connection keeps prepared from one call to the next (the lookups made once per
// dish); they must go before the connection is closed.
struct Prepared {
    std::unique_ptr<QSqlQuery> pesqPrato;
    // On SQLite, the same lookup through the library's own interface: the driver's per-call work
    // (naming the placeholders, describing the result's columns) cost more than the search.
    struct LiteStatement;
    struct LiteDeleter {
        void operator()(LiteStatement *s) const;
    };
    std::unique_ptr<LiteStatement, LiteDeleter> pesqPratoLite;
    // The codes of the branch a run of lookups asks about: most answers need no query.
    DishSnapshot dishes;
};
Result<QByteArray> run(QSqlDatabase &db, const QString &method, const CallArgs &args, Prepared *prepared = nullptr);
Result<QByteArray> importacao(QSqlDatabase &db, const CallArgs &args);
} // namespace RdmMethods
