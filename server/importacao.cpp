// Importacao: writes the dishes of an export file, with their recipes, into a destination branch.
//
// The call carries whole tables as the screen loaded them: dishes (with the screen's error flags),
// the standard, branch and service recipes, the destination services in use and the service map,
// three flags telling which recipe sections the file held, and the destination branch. Arguments
// are checked first and refused whole; then everything is written in one transaction, all or
// nothing:
// - a dish whose IDERRO holds a "1" is not written, nor is any row of its recipes;
// - every other dish is inserted, or updated by CDFILAUXPRAT+CDPRATO (a dish repeated in the
//   packet takes its last row);
// - for each written dish, its RECEPADR, RECEFILI and RECESERV rows at the destination are
//   replaced by the packet's rows when the file held that section, and left alone otherwise;
// - PRATPADR rows are inserted or updated by CDFILAUXPRAT+CDPRATO (one yield per dish), PRATFILI
//   rows by CDFILIAL+CDFILAUXPRAT+CDPRATO; of a dish's repeated rows only the last is written;
// - rows of the per-branch tables (RECEFILI, PRATFILI, RECESERV) are written for the destination
//   branch, whatever branch the packet row names (the screen has already put it there).
// PRATSERV rows do not travel with the call.
#include "importacao_p.h"
#include "undostore.h"
#include "framework.h"

namespace RdmMethods::importacao_detail {

// A failure of the write, or of the checks just before it, says first that nothing was written.
static Payload notWritten(Failure f)
{
    f.message = Msg(QStringLiteral("Imp_NaoGravada")).arg(f.message);
    return Payload::fail(std::move(f));
}

// After each table, inside the transaction: an import asked to stop (SIGINT, SIGTERM) ends here
// as an ordinary failure, so the rollback is the usual one.
Status Import::afterTable(const QString &)
{
    return stopPoint();
}

void Import::finished(bool, const Failure &)
{
}

std::vector<quint8> Import::touchedTables() const
{
    const auto bit = [](const Packet &p) { return quint8(1 << UndoStore::indexOf(p.def->name)); };
    quint8 every = bit(m_prato);
    if (m_temRecePadr)
        every |= bit(m_recePadr);
    if (m_temReceFili)
        every |= bit(m_receFili);
    if (m_temReceServ)
        every |= bit(m_receServ);
    std::vector<quint8> out(size_t(m_dishRows.size()), every);
    // A yield is written for the dishes the packet has one for; the others keep theirs.
    for (const Packet *p : {&m_pratPadr, &m_pratFili}) {
        for (int d : p->dish) {
            if (d >= 0)
                out[size_t(d)] |= bit(*p);
        }
    }
    return out;
}

Status Import::beginBeforeImage(bool pg)
{
    if (!m_history)
        return okStatus();
    m_before = std::make_unique<BeforeImage>(m_db, pg ? QStringLiteral("IMP_KEYS") : QStringLiteral("temp.IMP_KEYS"), m_branch,
                                             m_touched);
    m_before->setColumns(0, *m_prato.def, writtenColumns(m_prato, false));
    for (const auto &[p, perBranch] : {std::pair{&m_recePadr, false}, {&m_receFili, true}, {&m_receServ, true},
                                       {&m_pratPadr, false}, {&m_pratFili, true}})
        m_before->setColumns(UndoStore::indexOf(p->def->name), *p->def, writtenColumns(*p, perBranch));
    Status s = pg ? okStatus() : sqliteKeys();
    if (!s)
        s = Status::fail(DbError::describe(QStringLiteral("preparar a gravação"), {}, s.error()));
    else
        s = m_before->begin();
    return s;
}

Status Import::keepBeforeImage(const Packet &p)
{
    if (!m_before)
        return okStatus();
    return m_before->keep(UndoStore::indexOf(p.def->name));
}

Status Import::sealBeforeImage()
{
    if (!m_before)
        return okStatus();
    Status s = m_before->seal(m_history->entry().id, m_history->entry().when, [&](int dish, Cells &key) {
        key[0].text = dishAux(dish);
        key[1].text = dishPrato(dish);
    });
    m_before.reset();
    return s;
}

Status Import::writeTables()
{
    const bool pg = Database::kindOf(m_db) == DbKind::PostgreSQL;
    m_touched = touchedTables();
    // SQLite takes the rows in the keys' order too (PostgreSQL's is sorted in preparePg()).
    if (!pg)
        m_keyOrder = keyOrder();
    if (pg) {
        if (Status s = preparePg(); !s)
            return s;
    }
    // What the import replaces is kept for its undo, under its history row.
    if (Status s = beginBeforeImage(pg); !s)
        return s;
    struct Step {
        Packet *p;
        bool run;
        bool perBranch;
        bool replace; // the dish's rows at the destination give way to the packet's
    };
    const Step steps[] = {Step{&m_recePadr, m_temRecePadr, false, true}, Step{&m_receFili, m_temReceFili, true, true},
                          Step{&m_receServ, m_temReceServ, true, true}, Step{&m_pratPadr, true, false, false},
                          Step{&m_pratFili, true, true, false}};
    const ImportProgress &progress = importProgress();
    const int tables = 1 + int(std::count_if(std::begin(steps), std::end(steps), [](const Step &st) { return st.run; }));
    int done = 0;
    if (progress.writing)
        progress.writing(m_prato.label, done++, tables);
    if (Status s = keepBeforeImage(m_prato); !s)
        return s;
    if (Status s = writeDishes(); !s)
        return s;
    pausePoint("pratos");
    if (Status s = afterTable(m_prato.label); !s)
        return s;
    for (const Step &step : steps) {
        if (!step.run)
            continue;
        // A recipe table is written once its keys are known to be whole; the refusal of an earlier
        // table's comes first.
        if (Status s = recipeKeysChecked(step.replace ? step.p : nullptr); !s)
            return s;
        if (progress.writing)
            progress.writing(step.p->label, done++, tables);
        Status s = keepBeforeImage(*step.p);
        if (s)
            s = step.replace ? replaceRecipe(*step.p, step.perBranch) : upsertPerDish(*step.p, step.perBranch);
        if (s)
            s = afterTable(step.p->label);
        if (!s)
            return s;
    }
    if (Status s = sealBeforeImage(); !s)
        return s;
    if (m_sqliteKeys) {
        SqliteStatement drop(m_db, QStringLiteral("DROP TABLE temp.IMP_KEYS"));
        if (!drop.ok() || !drop.step())
            return Status::fail(DbError::describe(QStringLiteral("preparar a gravação"), {}, drop.error()));
    }
    return okStatus();
}

void Import::startRecipeKeys()
{
    std::array<std::promise<Status>, 3> outcomes;
    for (size_t i = 0; i < outcomes.size(); ++i)
        m_keysChecked[i] = outcomes[i].get_future();
    m_keysThread = std::async(std::launch::async, [this, outcomes = std::move(outcomes)]() mutable {
        const Packet *tables[] = {&m_recePadr, &m_receFili, &m_receServ};
        for (size_t i = 0; i < outcomes.size(); ++i)
            outcomes[i].set_value(checkRecipeKeys(tables[i]));
    });
}

Status Import::recipeKeysChecked(const Packet *upTo)
{
    const Packet *tables[] = {&m_recePadr, &m_receFili, &m_receServ};
    for (size_t i = 0; i < m_keysChecked.size(); ++i) {
        if (m_keysChecked[i].valid()) {
            if (Status s = m_keysChecked[i].get(); !s)
                m_keysRefused[i] = s.failure();
        }
        if (!m_keysRefused[i].message.isEmpty())
            return Status::fail(m_keysRefused[i]);
        if (tables[i] == upTo)
            break;
    }
    return okStatus();
}

Payload Import::run(const CallArgs &args)
{
    const auto refused = [this](Failure f) {
        finished(false, f);
        return Payload::fail(std::move(f));
    };
    if (Status s = checkArguments(args); !s)
        return refused(s.failure());
    if (Status s = checkBranchAndServices(); !s)
        return refused(s.failure());
    if (Status s = selectDishes(); !s)
        return refused(s.failure());
    // On PostgreSQL the recipe keys are checked on a second thread while the transaction begins
    // and the tables are written, the database working on those meanwhile. A recipe table's are
    // waited for before its rows are written, and a refusal of theirs outranks whatever failed
    // before it, as when they were checked first.
    if (Database::kindOf(m_db) == DbKind::PostgreSQL)
        startRecipeKeys();
    else if (Status s = checkRecipeKeys(); !s)
        return refused(notWritten(s.failure()).failure());

    TransactionGuard tx(m_db);
    if (!tx.begun()) {
        if (Status keys = recipeKeysChecked(); !keys)
            return refused(notWritten(keys.failure()).failure());
        return refused(tx.failure());
    }
    pausePoint("inicio");
    Status s = writeTables();
    if (Status keys = recipeKeysChecked(); !keys)
        s = keys;
    if (s)
        s = ServicePairings::remember(m_db, m_branch, m_servico.table);
    if (s && m_history)
        s = m_history->written(m_summary); // the history row, in the import's transaction
    if (s) {
        pausePoint("antes-commit");
        s = stopPoint();
    }
    if (s) {
        s = tx.commit();
        if (s)
            pausePoint("depois-commit");
        // A connection lost on the commit leaves the outcome with the database: it may have
        // committed before the connection went.
        if (!s && s.failure().key == QLatin1String("BD_ConexaoPerdida"))
            return refused(Failure{Msg(QStringLiteral("BD_ConfirmacaoIncerta")), QStringLiteral("BD_ConfirmacaoIncerta"),
                                   s.failure().detail});
    }
    if (!s)
        return refused(notWritten(s.failure()).failure());
    finished(true, Failure());
    if (m_history)
        m_summary.historyId = m_history->id();
    return m_summary.encode();
}

} // namespace RdmMethods::importacao_detail

namespace RdmMethods {

using importacao_detail::Import;

Result<QByteArray> importacao(QSqlDatabase &db, const CallArgs &args)
{
    WriterWait wait(db);
    // One history row per call: in the transaction when it commits, after the rollback otherwise.
    ImportHistoryRecorder history(db, args);
    // A deadlock or a serialization failure with another transaction (two servers on one
    // PostgreSQL database) rolled the whole import back, its history row and its before-image
    // with it: it is run again from the start, a few times, before the operator hears of it.
    constexpr int kAttempts = 4;
    for (int attempt = 1;; ++attempt) {
        Import import(db, &history);
        Result<QByteArray> r = import.run(args);
        if (r || attempt == kAttempts || r.failure().key != QLatin1String("BD_Conflito")) {
            Result<QByteArray> done = history.finish(std::move(r));
            // SQLite's page cache has filled up to its limit with the import's pages, all clean
            // once the transaction has ended: they go back, rather than staying beside whatever
            // the caller does next in the same process (the client's cache of PRATO, the screen's
            // tables).
            if (sqlite3 *handle = Rows::sqliteHandle(db))
                sqlite3_db_release_memory(handle);
            return done;
        }
        reportFailureDetail(Failure{r.failure().message, r.failure().key,
                                    QStringLiteral("Importacao refeita após a tentativa %1: %2").arg(attempt).arg(r.failure().detail)});
        std::this_thread::sleep_for(std::chrono::milliseconds(50 * attempt));
    }
}

} // namespace RdmMethods
