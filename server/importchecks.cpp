// Importacao's checks, all before the transaction: the arguments, the destination branch and
// services, the dishes to write and the recipe rows' keys. A call that fails one is refused whole.
#include "importacao_p.h"

namespace RdmMethods::importacao_detail {

namespace {


// Reads one packet argument and checks that it holds only the columns it may hold. An empty byte
// string is an empty table: the screen's service tables do not exist until their first row.
Status loadPacket(const QVariant &arg, Packet &p, const QStringList &allowed)
{
    if (!CallArg::isPacket(arg))
        return Status::fail(QStringLiteral("Importacao: o argumento de %1 não é um pacote de dados.").arg(p.label));
    const QByteArray bytes = arg.toByteArray();
    // Every catalogue column starts as missing, so an empty table is one without any column.
    p.source.clear();
    if (p.def)
        p.source.fill(-1, p.def->columns.size());
    if (bytes.isEmpty())
        return okStatus();
    const Status s = p.decoded ? DataPacket::load(p.table, bytes, clientPackets()) : p.rows.open(bytes, clientPackets());
    if (!s)
        return Status::fail(QStringLiteral("Importacao: o pacote de %1 é inválido: %2").arg(p.label, s.error()));
    for (const FieldDef &f : p.decoded ? p.table.fields() : p.rows.fields()) {
        bool known = false;
        for (const QString &a : allowed)
            known = known || a.compare(f.name, Qt::CaseInsensitive) == 0;
        if (!known)
            return Status::fail(QStringLiteral("Importacao: o pacote de %1 tem a coluna %2, que não pertence a %1.")
                                    .arg(p.label, f.name));
    }
    if (p.def) {
        for (int c = 0; c < p.def->columns.size(); ++c)
            p.source[c] = p.col(p.def->columns.at(c).name);
    }
    return okStatus();
}

QStringList names(const QList<FieldDef> &fields)
{
    QStringList out;
    for (const FieldDef &f : fields)
        out << f.name;
    return out;
}

Result<bool> flagArg(const QVariant &v, const char *name)
{
    // Automation booleans: -1 is true, 0 false; any other non-zero integer also counts as true.
    if (CallArg::isBool(v))
        return v.toBool();
    if (CallArg::isInteger(v))
        return v.toLongLong() != 0;
    return Result<bool>::fail(QStringLiteral("Importacao: o indicador %1 deve ser um inteiro (-1 ou 0).")
                                  .arg(QLatin1String(name)));
}

// A dish's key as the import's index of dishes holds it, in `key`.
void dishKey(QByteArrayView aux, QByteArrayView prato, QByteArray &key)
{
    key.truncate(0);
    key.append(aux).append(char(0x1F)).append(prato);
}
} // namespace

} // namespace RdmMethods::importacao_detail

namespace RdmMethods::importacao_detail {

// The eight packet arguments, each decoded into its table and checked for the columns it may hold.
Status Import::loadPackets(const CallArgs &args)
{
    const auto setup = [](Packet &p, const char *label, const char *table) {
        p.label = QString::fromLatin1(label);
        p.table.setName(p.label);
        p.def = table ? Catalogue::table(QString::fromLatin1(table)) : nullptr;
        p.decoded = !table; // the service tables, a few rows each
    };
    setup(m_prato, "PRATO", "PRATO");
    setup(m_recePadr, "RECEPADR", "RECEPADR");
    setup(m_receFili, "RECEFILI", "RECEFILI");
    setup(m_servDestino, "SERVDESTINO", nullptr);
    setup(m_receServ, "RECESERV", "RECESERV");
    setup(m_pratPadr, "PRATPADR", "PRATPADR");
    setup(m_pratFili, "PRATFILI", "PRATFILI");
    setup(m_servico, "SERVICO", nullptr);

    const QStringList servDestinoCols{QStringLiteral("CDSERVFILI"), QStringLiteral("NMSERVICO")};
    const QStringList servicoCols{QStringLiteral("CDSERVFILIORIG"), QStringLiteral("CDSERVFILIDEST"),
                                  QStringLiteral("NMSERVICOORIG"), QStringLiteral("NMSERVICODEST")};
    Packet *order[] = {&m_prato, &m_recePadr, &m_receFili, &m_servDestino,
                       &m_receServ, &m_pratPadr, &m_pratFili, &m_servico};
    // Reading the packets through is a good part of a large import; each is read on its own, so
    // they are read side by side. The first failure in argument order is the one reported.
    std::vector<std::future<Status>> loads;
    for (int i = 0; i < 8; ++i) {
        Packet &p = *order[i];
        QStringList allowed;
        if (p.def)
            allowed = names(Catalogue::packetFields(*p.def));
        else
            allowed = &p == &m_servDestino ? servDestinoCols : servicoCols;
        const QVariant arg = args.at(i);
        loads.push_back(std::async(std::launch::async, [arg, &p, allowed] {
            try {
                return loadPacket(arg, p, allowed);
            } catch (const std::exception &e) {
                return Status::fail(QStringLiteral("Importacao: o pacote de %1 é inválido: %2")
                                        .arg(p.label, QString::fromUtf8(e.what())));
            }
        }));
    }
    Status first = okStatus();
    for (auto &f : loads) {
        Status s = f.get();
        if (first && !s)
            first = s;
    }
    return first;
}

Status Import::checkArguments(const CallArgs &args)
{
    if (Status loaded = loadPackets(args); !loaded)
        return loaded;

    auto f1 = flagArg(args.at(8), "TemRecePadr");
    auto f2 = flagArg(args.at(9), "TemReceFili");
    auto f3 = flagArg(args.at(10), "TemReceServ");
    for (const auto *f : {&f1, &f2, &f3}) {
        if (!*f)
            return Status::fail(f->error());
    }
    m_temRecePadr = f1.value();
    m_temReceFili = f2.value();
    m_temReceServ = f3.value();

    if (!CallArg::isText(args.at(11)))
        return Status::fail(QStringLiteral("Importacao: a filial destino deve ser um texto."));
    m_branch = args.at(11).toString().trimmed();
    m_branchUtf8 = m_branch.toUtf8();
    if (m_branch.isEmpty())
        return Status::fail(QStringLiteral("Filial destino deve ser informada."));
    if (m_branch.size() > 4)
        return Status::fail(QStringLiteral("Filial destino inválida: %1.").arg(m_branch.left(20)));

    // Rows of the dish and recipe tables are tied to their dish by these two columns.
    // The rest of a table's key must travel too (the branch excepted: the destination's is written).
    for (Packet *p : {&m_prato, &m_recePadr, &m_receFili, &m_receServ, &m_pratPadr, &m_pratFili}) {
        if (p->rowCount() == 0)
            continue;
        QStringList required{QStringLiteral("CDFILAUXPRAT"), QStringLiteral("CDPRATO")};
        for (const QString &k : p->def->key) {
            if (!required.contains(k) && k != QLatin1String("CDFILIAL"))
                required << k;
        }
        for (const QString &c : std::as_const(required)) {
            if (p->col(c) < 0)
                return Status::fail(QStringLiteral("Importacao: o pacote de %1 não tem a coluna %2.").arg(p->label, c));
        }
    }
    return okStatus();
}

Status Import::checkBranchAndServices()
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT IDCNTRRESC FROM FILIAL WHERE CDFILIAL = ?"));
    q.bindValue(0, m_branch);
    if (!q.exec())
        return Status::fail(DbError::describe(QStringLiteral("ler a filial destino"), q.lastError()));
    if (!q.next())
        return Status::fail(QStringLiteral("Filial destino %1 não cadastrada.").arg(m_branch));
    if (q.value(0).toString().trimmed() == QLatin1String("S"))
        return Status::fail(QStringLiteral("Filial destino %1 com contrato rescindido.").arg(m_branch));
    q.finish();

    // Every destination service that the map names, and every one in the list in use, must exist
    // at the destination branch: the operator may have typed one that was removed meanwhile.
    QStringList codes;
    const int dest = m_servico.col(u"CDSERVFILIDEST");
    for (int r = 0; r < m_servico.rowCount(); ++r)
        codes << m_servico.text(r, dest);
    const int inUse = m_servDestino.col(u"CDSERVFILI");
    for (int r = 0; r < m_servDestino.rowCount(); ++r)
        codes << m_servDestino.text(r, inUse);
    codes.removeAll(QString());
    codes.removeDuplicates();
    QSqlQuery s(m_db);
    s.prepare(QStringLiteral("SELECT 1 FROM SERVICO WHERE CDFILIAL = ? AND CDSERVFILI = ?"));
    for (const QString &code : std::as_const(codes)) {
        s.bindValue(0, m_branch);
        s.bindValue(1, code);
        if (!s.exec())
            return Status::fail(DbError::describe(QStringLiteral("ler os serviços da filial destino"), s.lastError()));
        if (!s.next())
            return Status::fail(QStringLiteral("Serviço destino %1 não cadastrado na filial %2.").arg(code, m_branch));
        s.finish();
    }
    return okStatus();
}

Status Import::selectDishes()
{
    const int aux = m_prato.col(u"CDFILAUXPRAT");
    const int prato = m_prato.col(u"CDPRATO");
    const int erro = m_prato.col(u"IDERRO");
    const bool erroText = erro >= 0 && m_prato.kind(erro) == FieldKind::Text;
    // Each key once, in the order it first comes: its last clean row, and whether any row of it
    // is flagged. A flagged dish is not written, whatever its values: it is set aside before
    // anything of it is looked at, so a flagged row without a code, or repeating another, refuses
    // nothing; and a clean copy of a flagged dish does not make it clean.
    struct Seen {
        int last = -1;
        bool flagged = false;
    };
    std::vector<Seen> seen;
    QByteArray sa, sp;
    const auto entry = [&](QByteArrayView a, QByteArrayView p) -> Seen & {
        bool added = false;
        const int n = m_dishIndex.findOrAdd(a, p, int(seen.size()), added);
        if (added)
            seen.emplace_back();
        return seen[size_t(n)];
    };
    for (int r = 0; r < m_prato.rowCount(); ++r) {
        const DataPacket::PacketRow &row = m_prato.at(r);
        const QByteArrayView a = m_prato.keyView(row, aux, sa);
        const QByteArrayView p = m_prato.keyView(row, prato, sp);
        if (erro >= 0 && (erroText ? row.utf8(erro).contains('1') : row.text(erro).contains(QLatin1Char('1')))) {
            m_summary.dishesNotWritten << DataPacket::fromUtf8(p);
            entry(a, p).flagged = true;
            continue;
        }
        if (a.isEmpty() || p.isEmpty())
            return Status::fail(Msg(QStringLiteral("Imp_PratoSemCodigo")).arg(r + 1), QStringLiteral("Imp_PratoSemCodigo"));
        entry(a, p).last = r;
    }
    // The dishes written, numbered in the order their first clean row came; the others map to -1.
    std::vector<int> number(seen.size(), -1);
    for (size_t i = 0; i < seen.size(); ++i) {
        if (seen[i].last >= 0 && !seen[i].flagged) {
            number[i] = int(m_dishRows.size());
            m_dishRows << seen[i].last;
            m_dishEntry.push_back(int(i));
        }
    }
    m_dishIndex.renumber(number);
    // The recipe tables' rows are mapped by checkRecipeKeys(), which reads them first.
    for (Packet *p : {&m_pratPadr, &m_pratFili})
        mapRows(*p);
    return okStatus();
}

void Import::mapRows(Packet &p) const
{
    const int rows = p.rowCount();
    p.dish.assign(size_t(rows), -1);
    if (rows == 0 || m_dishIndex.isEmpty())
        return;
    const int aux = p.col(u"CDFILAUXPRAT");
    const int prato = p.col(u"CDPRATO");
    // A dish's rows usually follow one another: a row of the same key as the row before it is
    // not looked up again.
    QByteArray key, a, b;
    std::string previousAux, previousPrato; // short codes: no allocation
    const auto same = [](QByteArrayView v, const std::string &s) { return v == QByteArrayView(s.data(), qsizetype(s.size())); };
    int dish = -1;
    int near = -1;
    for (int r = 0; r < rows; ++r) {
        const DataPacket::PacketRow &row = p.at(r);
        const QByteArrayView va = p.keyView(row, aux, a);
        const QByteArrayView vp = p.keyView(row, prato, b);
        if (r == 0 || !same(va, previousAux) || !same(vp, previousPrato)) {
            dishKey(va, vp, key);
            dish = m_dishIndex.value(key, near);
            previousAux.assign(va.begin(), va.end());
            previousPrato.assign(vp.begin(), vp.end());
        }
        p.dish[size_t(r)] = dish;
    }
}

// The recipe rows of the dishes to be written must each have their whole key, once per table: a
// row without a key, or repeating one, would fail the write halfway. Checked before the
// transaction, so such a call is refused with the dish and the table named and nothing written.
namespace {

// The part of a recipe table's key that the file decides: every key column but the branch, which
// is the destination's whatever the row says.
struct RecipeKey {
    QList<int> cols;
    QStringList names;
};

RecipeKey recipeKey(const Packet &p)
{
    RecipeKey key;
    for (const QString &k : p.def->key) {
        if (k == QLatin1String("CDFILIAL"))
            continue;
        key.names << k;
        key.cols << p.col(k);
    }
    return key;
}

// A row's key values as the import compares them; `buf` holds those the packet has not as text.
void keyOf(const Packet &p, const RecipeKey &key, const DataPacket::PacketRow &row, std::vector<QByteArrayView> &out,
           std::vector<QByteArray> &buf)
{
    for (qsizetype i = 0; i < key.cols.size(); ++i)
        out[size_t(i)] = p.keyView(row, key.cols.at(i), buf[size_t(i)]);
}

// The rows (of written dishes) up to the first that lacks part of its key, each with a hash of its
// key, in packet order. Answers that first row, -1 when every row has its whole key, and in
// `emptyPart` the part it lacks.
std::vector<std::pair<size_t, int>> hashedKeys(const Packet &p, const RecipeKey &key, int &firstEmpty, int &emptyPart)
{
    const qsizetype n = key.cols.size();
    std::vector<QByteArrayView> values(static_cast<size_t>(n));
    std::vector<QByteArray> scratch(static_cast<size_t>(n));
    std::vector<std::pair<size_t, int>> hashes;
    firstEmpty = -1;
    emptyPart = 0;
    for (int r = 0; r < p.rowCount() && firstEmpty < 0; ++r) {
        if (p.dish[size_t(r)] < 0)
            continue;
        keyOf(p, key, p.at(r), values, scratch);
        size_t h = 0;
        for (qsizetype i = 0; i < n && firstEmpty < 0; ++i) {
            if (values[size_t(i)].isEmpty()) {
                firstEmpty = r;
                emptyPart = int(i);
            }
            h = DishIndex::hash(values[size_t(i)]) ^ (h * 31 + 7);
        }
        if (firstEmpty < 0)
            hashes.emplace_back(h, r);
    }
    return hashes;
}

// The first row, in packet order, whose key repeats an earlier row's, among rows sorted by the hash
// of their key; -1 when none does. Rows of equal hashes are compared value by value.
int firstRepeatedRow(const Packet &p, const RecipeKey &key, const std::vector<std::pair<size_t, int>> &hashes)
{
    const size_t n = size_t(key.cols.size());
    std::vector<QByteArrayView> values(n), other(n);
    std::vector<QByteArray> scratch(n), otherScratch(n);
    DataPacket::PacketRow a, b;
    int repeated = -1;
    for (size_t i = 0; i < hashes.size();) {
        size_t end = i + 1;
        while (end < hashes.size() && hashes[end].first == hashes[i].first)
            ++end;
        // Within a run of equal hashes, rows are in packet order: each is compared with those
        // before it, and only a row earlier than the repetition found so far can change it.
        for (size_t j = i + 1; j < end; ++j) {
            const int r = hashes[j].second;
            if (repeated >= 0 && r >= repeated)
                break;
            p.rows.read(r, a);
            keyOf(p, key, a, values, scratch);
            for (size_t k = i; k < j; ++k) {
                p.rows.read(hashes[k].second, b);
                keyOf(p, key, b, other, otherScratch);
                if (values == other) {
                    repeated = r;
                    break;
                }
            }
        }
        i = end;
    }
    return repeated;
}

// The same, with `hashes` in packet order. A dish's rows usually follow one another, and a key
// can only repeat within its dish: each dish's run of rows is then compared within itself, in
// place, rather than every row sorted with the whole table's (half a second for a million dishes).
// A dish whose rows come in more than one run, or a run of many rows, has the table sorted.
int firstRepeatedRow(const Packet &p, const RecipeKey &key, std::vector<std::pair<size_t, int>> hashes, size_t dishes)
{
    constexpr size_t kLongRun = 64;
    std::vector<bool> seen(dishes, false);
    const size_t n = size_t(key.cols.size());
    std::vector<QByteArrayView> values(n), other(n);
    std::vector<QByteArray> scratch(n), otherScratch(n);
    DataPacket::PacketRow a, b;
    const auto same = [&](int r1, int r2) {
        p.rows.read(r1, a);
        keyOf(p, key, a, values, scratch);
        p.rows.read(r2, b);
        keyOf(p, key, b, other, otherScratch);
        return values == other;
    };
    for (size_t i = 0; i < hashes.size();) {
        const int d = p.dish[size_t(hashes[i].second)];
        size_t end = i + 1;
        while (end < hashes.size() && p.dish[size_t(hashes[end].second)] == d)
            ++end;
        if (seen[size_t(d)] || end - i > kLongRun) {
            std::sort(hashes.begin(), hashes.end());
            return firstRepeatedRow(p, key, hashes);
        }
        seen[size_t(d)] = true;
        for (size_t t = i + 1; t < end; ++t) {
            for (size_t u = i; u < t; ++u) {
                if (hashes[u].first == hashes[t].first && same(hashes[u].second, hashes[t].second))
                    return hashes[t].second;
            }
        }
        i = end;
    }
    return -1;
}

} // namespace

Status Import::checkRecipeKeys(const Packet *only)
{
    struct Table {
        Packet *p;
        bool replaced; // the file held the section: its rows are written
    };
    for (Packet *p : {&m_recePadr, &m_receFili, &m_receServ})
        if (!only || p == only)
            mapRows(*p);
    // The per-dish tables (PRATPADR, PRATFILI) have no key beyond the dish and the branch, and keep
    // the last of repeated rows.
    for (const Table &t : {Table{&m_recePadr, m_temRecePadr}, Table{&m_receFili, m_temReceFili},
                           Table{&m_receServ, m_temReceServ}}) {
        const Packet &p = *t.p;
        if (!t.replaced || p.rowCount() == 0 || (only && t.p != only))
            continue;
        const RecipeKey key = recipeKey(p);
        const int prato = p.col(u"CDPRATO");
        // The first row, in packet order, that lacks part of its key or repeats an earlier row's
        // is the one reported. Rows up to the first without a whole key are compared by a hash of
        // their key.
        int firstEmpty = -1, emptyPart = 0;
        const int repeated = firstRepeatedRow(p, key, hashedKeys(p, key, firstEmpty, emptyPart), size_t(m_dishRows.size()));
        if (repeated >= 0) {
            std::vector<QByteArrayView> values(size_t(key.cols.size()));
            std::vector<QByteArray> scratch(size_t(key.cols.size()));
            keyOf(p, key, p.at(repeated), values, scratch);
            QStringList parts;
            for (QByteArrayView v : values)
                parts << DataPacket::fromUtf8(v);
            Failure f{Msg(QStringLiteral("Imp_LinhaRepetida"))
                          .arg(p.text(repeated, prato), p.label, parts.join(QLatin1Char('/')))
                          .arg(repeated + 1),
                      QStringLiteral("Imp_LinhaRepetida"), {}};
            f.dishRow = dishRowOf(p, repeated);
            return Status::fail(std::move(f));
        }
        if (firstEmpty >= 0) {
            Failure f{Msg(QStringLiteral("Imp_LinhaSemChave"))
                          .arg(p.text(firstEmpty, prato), p.label, key.names.at(emptyPart))
                          .arg(firstEmpty + 1),
                      QStringLiteral("Imp_LinhaSemChave"), {}};
            f.dishRow = dishRowOf(p, firstEmpty);
            return Status::fail(std::move(f));
        }
    }
    return okStatus();
}
} // namespace RdmMethods::importacao_detail
