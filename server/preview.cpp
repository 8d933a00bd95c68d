#include "preview.h"

#include "datapacket.h"
#include "dberror.h"
#include "memtable.h"
#include "messages.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QHash>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

namespace RdmMethods {

namespace {

using Payload = Result<QByteArray>;

Payload refused(const QString &why)
{
    return Payload::fail(Msg(QStringLiteral("Srv_ArgumentoInvalido")).arg(QLatin1String(kPreviewMethod), why),
                         QStringLiteral("Srv_ArgumentoInvalido"));
}

// Runs one read with its values bound in order; calls `row` for every row it yields.
template <typename F>
Status readRows(QSqlDatabase &db, const QString &what, const QString &sql, const QVariantList &params, F row)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        return Status::fail(DbError::describe(what, q.lastError()));
    for (int i = 0; i < params.size(); ++i)
        q.bindValue(i, params.at(i));
    if (!q.exec())
        return Status::fail(DbError::describe(what, q.lastError()));
    while (q.next())
        row(q);
    return okStatus();
}

// The packet's dish rows by tree (CDFILAUXPRAT), then code (CDPRATO).
using DishesByTree = QHash<QString, QHash<QString, QList<int>>>;

// The rows of the packet's dishes that the destination already holds, and their tree + code.
Status findExisting(QSqlDatabase &db, const DishesByTree &byTree, QList<int> &existing, QSet<QString> &found)
{
    for (auto tree = byTree.cbegin(); tree != byTree.cend(); ++tree) {
        const auto &codes = tree.value();
        const Status st = readRows(db, QStringLiteral("ler PRATO"),
                                   QStringLiteral("SELECT CDPRATO FROM PRATO WHERE CDFILAUXPRAT = ?"), {tree.key()},
                                   [&](QSqlQuery &q) {
                                       const QString code = q.value(0).toString().trimmed();
                                       if (auto it = codes.constFind(code); it != codes.constEnd()) {
                                           existing << it.value();
                                           found.insert(tree.key() + QChar(0x1F) + code);
                                       }
                                   });
        if (!st)
            return st;
    }
    return okStatus();
}

// How many rows of a recipe table the destination holds for the packet's dishes (of the
// destination branch, for a per-branch table).
Status countRecipeRows(QSqlDatabase &db, const char *table, bool perBranch, const QString &branch,
                       const DishesByTree &byTree, qint64 &count)
{
    for (auto tree = byTree.cbegin(); tree != byTree.cend(); ++tree) {
        const QString sql = QStringLiteral("SELECT CDPRATO, COUNT(*) FROM %1 WHERE %2CDFILAUXPRAT = ? GROUP BY CDPRATO")
                                .arg(QLatin1String(table), perBranch ? QStringLiteral("CDFILIAL = ? AND ") : QString());
        QVariantList params;
        if (perBranch)
            params << branch;
        params << tree.key();
        const Status st = readRows(db, QStringLiteral("ler %1").arg(QLatin1String(table)), sql, params,
                                   [&](QSqlQuery &q) {
                                       const QString code = q.value(0).toString().trimmed();
                                       if (tree.value().contains(code))
                                           count += q.value(1).toLongLong();
                                   });
        if (!st)
            return st;
    }
    return okStatus();
}

} // namespace

Result<QByteArray> getPrevia(QSqlDatabase &db, const CallArgs &args)
{
    // Every argument is judged before anything is read.
    if (args.size() != 5)
        return Payload::fail(Msg(QStringLiteral("Srv_Argumentos")).arg(QLatin1String(kPreviewMethod)).arg(5).arg(args.size()),
                             QStringLiteral("Srv_Argumentos"));
    if (!CallArg::isPacket(args.at(0)) || !CallArg::isInteger(args.at(1)) || !CallArg::isInteger(args.at(2))
        || !CallArg::isInteger(args.at(3)) || !CallArg::isText(args.at(4)))
        return Payload::fail(Msg(QStringLiteral("Srv_Previa")), QStringLiteral("Srv_Previa"));
    const QString branch = args.at(4).toString().trimmed();
    if (branch.isEmpty() || branch.size() > 4)
        return refused(QStringLiteral("filial destino"));
    MemTable dishes(QStringLiteral("PRATO"));
    if (const Status st = DataPacket::load(dishes, args.at(0).toByteArray()); !st)
        return refused(st.error());
    const int cAux = dishes.fieldIndex(u"CDFILAUXPRAT");
    const int cCode = dishes.fieldIndex(u"CDPRATO");
    if (cAux < 0 || cCode < 0)
        return refused(QStringLiteral("pacote sem CDFILAUXPRAT e CDPRATO"));

    // The dishes by tree, then code, both trimmed as the import compares them. A tree value longer
    // than its column names no dish of the destination: such a dish is new.
    DishesByTree byTree;
    for (int r = 0; r < dishes.rowCount(); ++r) {
        const QString aux = dishes.textAt(r, cAux).trimmed();
        const QString code = dishes.textAt(r, cCode).trimmed();
        if (aux.isEmpty() || code.isEmpty() || aux.size() > 4 || code.size() > 10)
            continue;
        byTree[aux][code] << r;
    }

    QList<int> existing;
    QSet<QString> found; // tree + code of the dishes the destination holds
    if (const Status st = findExisting(db, byTree, existing, found); !st)
        return Payload::fail(st.failure());
    std::sort(existing.begin(), existing.end());

    // A section the file held replaces the written dishes' recipe rows of that table: those of
    // the destination branch for the per-branch tables.
    QCborMap rows;
    const struct {
        const char *table;
        bool perBranch;
        int flagArg;
    } recipes[] = {{"RECEPADR", false, 1}, {"RECEFILI", true, 2}, {"RECESERV", true, 3}};
    for (const auto &t : recipes) {
        qint64 count = 0;
        if (args.at(t.flagArg).toLongLong() != 0 && !found.isEmpty()) {
            if (const Status st = countRecipeRows(db, t.table, t.perBranch, branch, byTree, count); !st)
                return Payload::fail(st.failure());
        }
        rows.insert(QLatin1String(t.table), count);
    }

    QCborArray existingRows;
    for (int r : std::as_const(existing))
        existingRows.append(r);
    QCborMap reply;
    reply.insert(QStringLiteral("existing"), existingRows);
    reply.insert(QStringLiteral("rows"), rows);
    return reply.toCborValue().toCbor();
}

} // namespace RdmMethods
