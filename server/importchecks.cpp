// Importacao's checks, all before the transaction: the arguments, the destination branch and
// services, the dishes to write and the recipe rows' keys. A call that fails one is refused whole.
#include "importacao_p.h"

namespace RdmMethods::importacao_detail {

namespace {


// Loads one packet argument and checks that it holds only the columns it may hold. An empty byte
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
    if (Status s = DataPacket::load(p.table, bytes); !s)
        return Status::fail(QStringLiteral("Importacao: o pacote de %1 é inválido: %2").arg(p.label, s.error()));
    for (const FieldDef &f : p.table.fields()) {
        bool known = false;
        for (const QString &a : allowed)
            known = known || a.compare(f.name, Qt::CaseInsensitive) == 0;
        if (!known)
            return Status::fail(QStringLiteral("Importacao: o pacote de %1 tem a coluna %2, que não pertence a %1.")
                                    .arg(p.label, f.name));
    }
    if (p.def) {
        for (int c = 0; c < p.def->columns.size(); ++c)
            p.source[c] = p.table.fieldIndex(p.def->columns.at(c).name);
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

QString dishKey(const QString &aux, const QString &prato)
{
    return aux + QChar(0x1F) + prato;
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
    // Decoding the packets is a good part of a large import; each goes into its own table, so
    // they are decoded side by side. The first failure in argument order is the one reported.
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
    if (m_branch.isEmpty())
        return Status::fail(QStringLiteral("Filial destino deve ser informada."));
    if (m_branch.size() > 4)
        return Status::fail(QStringLiteral("Filial destino inválida: %1.").arg(m_branch.left(20)));

    // Rows of the dish and recipe tables are tied to their dish by these two columns.
    // The rest of a table's key must travel too (the branch excepted: the destination's is written).
    for (Packet *p : {&m_prato, &m_recePadr, &m_receFili, &m_receServ, &m_pratPadr, &m_pratFili}) {
        if (p->rows() == 0)
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
    for (int r = 0; r < m_servico.rows(); ++r)
        codes << m_servico.text(r, dest);
    const int inUse = m_servDestino.col(u"CDSERVFILI");
    for (int r = 0; r < m_servDestino.rows(); ++r)
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
    // A flagged dish is not written, whatever its values: it is set aside before anything of it is
    // looked at, so a flagged row without a code, or repeating another, refuses nothing.
    QHash<QString, int> last;
    QStringList order;
    for (int r = 0; r < m_prato.rows(); ++r) {
        const QString a = m_prato.text(r, aux);
        const QString p = m_prato.text(r, prato);
        if (erro >= 0 && m_prato.table.textAt(r, erro).contains(QLatin1Char('1'))) {
            m_summary.dishesNotWritten << p;
            m_flagged.insert(dishKey(a, p));
            continue;
        }
        if (a.isEmpty() || p.isEmpty())
            return Status::fail(Msg(QStringLiteral("Imp_PratoSemCodigo")).arg(r + 1), QStringLiteral("Imp_PratoSemCodigo"));
        const QString key = dishKey(a, p);
        auto it = last.find(key);
        if (it == last.end()) {
            last.insert(key, r);
            order << key;
        } else {
            *it = r;
        }
    }
    for (const QString &key : std::as_const(order)) {
        // A clean copy of a flagged dish does not make it clean: no copy of it is written.
        if (m_flagged.contains(key))
            continue;
        m_dishIndex.insert(key, int(m_dishRows.size()));
        m_dishRows << last.value(key);
    }
    for (Packet *p : {&m_recePadr, &m_receFili, &m_receServ, &m_pratPadr, &m_pratFili})
        mapRows(*p);
    return okStatus();
}

void Import::mapRows(Packet &p) const
{
    const int rows = p.rows();
    p.dish.assign(size_t(rows), -1);
    if (rows == 0 || m_dishIndex.isEmpty())
        return;
    const int aux = p.col(u"CDFILAUXPRAT");
    const int prato = p.col(u"CDPRATO");
    QString key, a, b;
    for (int r = 0; r < rows; ++r) {
        key.clear();
        key += p.keyView(r, aux, a);
        key += QChar(0x1F);
        key += p.keyView(r, prato, b);
        p.dish[size_t(r)] = m_dishIndex.value(key, -1);
    }
}

// The recipe rows of the dishes to be written must each have their whole key, once per table: a
// row without a key, or repeating one, would fail the write halfway. Checked before the
// transaction, so such a call is refused with the dish and the table named and nothing written.
Status Import::checkRecipeKeys()
{
    struct Table {
        Packet *p;
        bool replaced; // the file held the section: its rows are written
    };
    // The per-dish tables (PRATPADR, PRATFILI) have no key beyond the dish and the branch, and keep
    // the last of repeated rows.
    for (const Table &t : {Table{&m_recePadr, m_temRecePadr}, Table{&m_receFili, m_temReceFili},
                           Table{&m_receServ, m_temReceServ}}) {
        Packet &p = *t.p;
        if (!t.replaced || p.rows() == 0)
            continue;
        QList<int> keyCols;
        QStringList keyNames;
        for (const QString &k : p.def->key) {
            if (k == QLatin1String("CDFILIAL"))
                continue; // the destination branch, whatever the row says
            keyNames << k;
            keyCols << p.col(k);
        }
        const int prato = p.col(u"CDPRATO");
        const qsizetype n = keyCols.size();
        std::vector<QStringView> values(static_cast<size_t>(n)), other(static_cast<size_t>(n));
        std::vector<QString> scratch(static_cast<size_t>(n)), otherScratch(static_cast<size_t>(n));
        // Rows by a hash of their key; rows of equal hashes are compared value by value.
        QMultiHash<size_t, int> seen;
        seen.reserve(p.rows());
        for (int r = 0; r < p.rows(); ++r) {
            if (p.dish[size_t(r)] < 0)
                continue;
            size_t h = 0;
            for (qsizetype i = 0; i < n; ++i) {
                values[size_t(i)] = p.keyView(r, keyCols.at(i), scratch[size_t(i)]);
                if (values[size_t(i)].isEmpty())
                    return Status::fail(Msg(QStringLiteral("Imp_LinhaSemChave"))
                                            .arg(p.text(r, prato), p.label, keyNames.at(i))
                                            .arg(r + 1),
                                        QStringLiteral("Imp_LinhaSemChave"));
                h = qHash(values[size_t(i)], h * 31 + 7);
            }
            for (auto it = seen.constFind(h); it != seen.constEnd() && it.key() == h; ++it) {
                bool same = true;
                for (qsizetype i = 0; i < n && same; ++i) {
                    other[size_t(i)] = p.keyView(it.value(), keyCols.at(i), otherScratch[size_t(i)]);
                    same = other[size_t(i)] == values[size_t(i)];
                }
                if (same) {
                    QStringList key;
                    for (QStringView v : values)
                        key << v.toString();
                    return Status::fail(Msg(QStringLiteral("Imp_LinhaRepetida"))
                                            .arg(p.text(r, prato), p.label, key.join(QLatin1Char('/')))
                                            .arg(r + 1),
                                        QStringLiteral("Imp_LinhaRepetida"));
                }
            }
            seen.insert(h, r);
        }
    }
    return okStatus();
}

} // namespace RdmMethods::importacao_detail
