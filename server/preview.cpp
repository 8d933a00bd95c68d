#include "preview.h"
#include "rdmimpoprato.h"

#include "datapacket.h"
#include "dberror.h"
#include "memtable.h"
#include "messages.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <vector>

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

// The packet's dishes ordered by tree (CDFILAUXPRAT), then code (CDPRATO), both trimmed as the
// import compares them: views of the packet table's own characters and the row they came from, a
// few bytes a dish where a hash of hashes of row lists took a hundred.
class DishIndex {
public:
    struct Key {
        const QChar *treeChars, *codeChars;
        quint8 treeSize, codeSize; // at most 4 and 10 (longer ones are left out)
        int row;
        QStringView tree() const { return QStringView(treeChars, treeSize); }
        QStringView code() const { return QStringView(codeChars, codeSize); }
    };
    // [begin, end) of one tree's keys.
    struct Tree {
        QStringView tree;
        size_t begin, end;
    };

    // A tree value longer than its column names no dish of the destination: such a dish is new,
    // and so is one without a tree or a code.
    DishIndex(MemTable &dishes, int cAux, int cCode)
    {
        const int n = dishes.rowCount();
        m_keys.reserve(size_t(n));
        for (int r = 0; r < n; ++r) {
            // The UTF-16 views widen these two columns once; the table does not change after.
            const QStringView aux = dishes.textViewAt(r, cAux).trimmed();
            const QStringView code = dishes.textViewAt(r, cCode).trimmed();
            if (aux.isEmpty() || code.isEmpty() || aux.size() > 4 || code.size() > 10)
                continue;
            m_keys.push_back(Key{aux.data(), code.data(), quint8(aux.size()), quint8(code.size()), r});
        }
        std::sort(m_keys.begin(), m_keys.end(), [](const Key &a, const Key &b) {
            if (const int c = compare(a.treeChars, a.treeSize, b.treeChars, b.treeSize); c != 0)
                return c < 0;
            if (const int c = compare(a.codeChars, a.codeSize, b.codeChars, b.codeSize); c != 0)
                return c < 0;
            return a.row < b.row;
        });
        for (size_t i = 0; i < m_keys.size();) {
            size_t j = i + 1;
            while (j < m_keys.size() && m_keys[j].tree() == m_keys[i].tree())
                ++j;
            m_trees.push_back(Tree{m_keys[i].tree(), i, j});
            i = j;
        }
    }

    const std::vector<Tree> &trees() const { return m_trees; }

    // The keys of one tree with this code.
    std::pair<const Key *, const Key *> find(const Tree &t, QStringView code) const
    {
        const Key *b = m_keys.data() + t.begin;
        const Key *e = m_keys.data() + t.end;
        const Key *lo = std::lower_bound(b, e, code, [](const Key &k, QStringView c) {
            return compare(k.codeChars, k.codeSize, c.data(), c.size()) < 0;
        });
        const Key *hi = lo;
        while (hi != e && hi->code() == code)
            ++hi;
        return {lo, hi};
    }

private:
    // UTF-16 code units in order, a prefix first: QStringView::compare's order, inline for the
    // sort's million comparisons of codes a few characters long.
    static int compare(const QChar *a, qsizetype na, const QChar *b, qsizetype nb)
    {
        const qsizetype n = std::min(na, nb);
        for (qsizetype i = 0; i < n; ++i)
            if (a[i] != b[i])
                return a[i].unicode() < b[i].unicode() ? -1 : 1;
        return na < nb ? -1 : (na > nb ? 1 : 0);
    }
    std::vector<Key> m_keys;
    std::vector<Tree> m_trees;
};

// The rows of the packet's dishes that the destination already holds; `any`: it holds one.
Status findExisting(QSqlDatabase &db, const DishIndex &index, QList<int> &existing, bool &any)
{
    for (const DishIndex::Tree &tree : index.trees()) {
        const Status st = readRows(db, QStringLiteral("ler PRATO"),
                                   QStringLiteral("SELECT CDPRATO FROM PRATO WHERE CDFILAUXPRAT = ?"),
                                   {tree.tree.toString()}, [&](QSqlQuery &q) {
                                       const QString code = q.value(0).toString().trimmed();
                                       const auto [lo, hi] = index.find(tree, code);
                                       for (auto k = lo; k != hi; ++k)
                                           existing << k->row;
                                       any = any || lo != hi;
                                   });
        if (!st)
            return st;
    }
    return okStatus();
}

// How many rows of a recipe table the destination holds for the packet's dishes (of the
// destination branch, for a per-branch table).
Status countRecipeRows(QSqlDatabase &db, const char *table, bool perBranch, const QString &branch,
                       const DishIndex &index, qint64 &count)
{
    for (const DishIndex::Tree &tree : index.trees()) {
        const QString sql = QStringLiteral("SELECT CDPRATO, COUNT(*) FROM %1 WHERE %2CDFILAUXPRAT = ? GROUP BY CDPRATO")
                                .arg(QLatin1String(table), perBranch ? QStringLiteral("CDFILIAL = ? AND ") : QString());
        QVariantList params;
        if (perBranch)
            params << branch;
        params << tree.tree.toString();
        const Status st = readRows(db, QStringLiteral("ler %1").arg(QLatin1String(table)), sql, params,
                                   [&](QSqlQuery &q) {
                                       const QString code = q.value(0).toString().trimmed();
                                       const auto [lo, hi] = index.find(tree, code);
                                       if (lo != hi)
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
    if (const Status st = DataPacket::load(dishes, args.at(0).toByteArray(), clientPackets()); !st)
        return refused(st.error());
    const int cAux = dishes.fieldIndex(u"CDFILAUXPRAT");
    const int cCode = dishes.fieldIndex(u"CDPRATO");
    if (cAux < 0 || cCode < 0)
        return refused(QStringLiteral("pacote sem CDFILAUXPRAT e CDPRATO"));

    // Columns of another kind are compared by their text, as the import does.
    MemTable asText(QStringLiteral("PRATO"));
    MemTable *source = &dishes;
    int keyAux = cAux, keyCode = cCode;
    if (dishes.field(cAux).kind != FieldKind::Text || dishes.field(cCode).kind != FieldKind::Text) {
        asText.setFields({FieldDef::text(QStringLiteral("CDFILAUXPRAT"), 0), FieldDef::text(QStringLiteral("CDPRATO"), 0)});
        asText.createDataSet();
        asText.beginBulkLoad(dishes.rowCount());
        for (int r = 0; r < dishes.rowCount(); ++r) {
            const int n = asText.bulkNewRow();
            asText.bulkSetText(n, 0, dishes.textAt(r, cAux));
            asText.bulkSetText(n, 1, dishes.textAt(r, cCode));
        }
        asText.endBulkLoad();
        source = &asText;
        keyAux = 0;
        keyCode = 1;
    }
    const DishIndex index(*source, keyAux, keyCode);

    QList<int> existing;
    bool found = false; // the destination holds one of the dishes
    if (const Status st = findExisting(db, index, existing, found); !st)
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
        if (args.at(t.flagArg).toLongLong() != 0 && found) {
            if (const Status st = countRecipeRows(db, t.table, t.perBranch, branch, index, count); !st)
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
