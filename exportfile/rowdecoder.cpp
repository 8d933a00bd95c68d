// The row decoder (GetValues): one data line against its structure line into one new row.
#include "loadpass.h"
#include "loadpassparts.h"

#include "ambiente.h"
#include "appserver.h"
#include "messages.h"

#include <algorithm>
#include <cstring>
#include <optional>

using namespace ExportText;

namespace {

// Whether a column is part of the target table's key at the destination.
bool isKeyColumn(const MemTable &table, QStringView name)
{
    for (size_t i = 0; i < std::size(kTables); ++i) {
        if (kTables[i].name != table.name())
            continue;
        for (QStringView k : kKeyColumns[i])
            if (k.compare(name, Qt::CaseInsensitive) == 0)
                return true;
    }
    return false;
}

void buildPlan(Plan &plan, MemTable &table, const QString &structure)
{
    plan.source = structure;
    plan.table = &table;
    plan.cols.clear();
    plan.rest.clear();
    QStringView s(structure);
    // The table's name and the empty rests are strings without a reference count: NomeTabela and
    // LinhaEstrutura take them on every line.
    plan.tableName = firstField(s).toString();
    for (const TableEntry &e : kTables)
        if (e.name == plan.tableName)
            plan.tableName = QString::fromRawData(reinterpret_cast<const QChar *>(e.name.utf16()), e.name.size());
    s = dropFirstField(s);
    plan.isPrato = plan.tableName == u"PRATO";
    plan.isReceServ = plan.tableName == u"RECESERV";
    const auto rest = [](QStringView v) { return v.isEmpty() ? QString() : v.toString(); };
    plan.rest.push_back(rest(s));
    for (;;) {
        const int p = ExportText::inPosicao(s);
        if (p < 0)
            break;
        const QStringView name = s.first(p);
        ColPlan c;
        c.col = table.fieldIndex(name);
        if (c.col >= 0) {
            const FieldDef &f = table.field(c.col);
            c.kind = f.kind;
            c.width = f.width;
            c.precision = f.precision;
            c.scale = f.scale;
            c.key = f.kind == FieldKind::Text && isKeyColumn(table, f.name);
        }
        c.special = specialOf(name);
        plan.cols.push_back(c);
        s = s.sliced(p + 1);
        plan.rest.push_back(rest(s));
    }
    plan.iderroCol = table.fieldIndex(u"IDERRO");
    plan.mnPratoLocalCol = table.fieldIndex(u"MNPRATOLOCAL");
    // The server applies the rows by what the packets carry, not by its own column flags.
    for (int i = 0; i < table.fieldCount(); ++i) {
        table.field(i).providerFlags = 0;
        table.field(i).readOnly = false;
    }
}

} // namespace

void LoadPass::GetValues(MemTable &table)
{
    // The plan of this structure line: Grava_Prato's, made once per pass, or one made now.
    std::optional<Plan> local; // made only when needed: a plan is a few hundred bytes to clear
    Plan *plan = d->currentPlan;
    if (plan && d->planOfLine && plan->table == &table) {
        if (plan->cols.empty() && plan->rest.empty())
            buildPlan(*plan, table, QString(plan->source));
    } else if (!plan || plan->table != &table || plan->source.constData() != LinhaEstrutura.constData()
               || plan->source.size() != LinhaEstrutura.size()) {
        plan = &local.emplace();
        buildPlan(*plan, table, LinhaEstrutura);
    } else if (plan->cols.empty() && plan->rest.empty()) {
        buildPlan(*plan, table, LinhaEstrutura);
    }

    rowOperation([&] { table.append(); });
    assignShared(NomeTabela, plan->tableName);

    const QString &branch = s.CdFilial; // not copied: a copy per line costs its reference count
    const QStringView line(LinhaAtual);
    // One scan of the line finds every terminator; the values are then decoded in order.
    std::vector<qsizetype> &ends = d->fieldEnds;
    ends.clear();
    {
        const char16_t *const begin = line.utf16();
        const qsizetype n = line.size();
        for (qsizetype i = 0; i < n; ++i)
            if (begin[i] == kTerminator)
                ends.push_back(i);
    }
    qsizetype pos = 0;
    size_t k = 0;
    RowFaults faults;
    try {
        const size_t named = plan->cols.size();
        for (; k < ends.size(); ++k) {
            const qsizetype end = ends[k];
            if (k < named)
                d->decodeColumn(table, *plan, plan->cols[k], line.sliced(pos, end - pos),
                                line.sliced(end + 1), branch, faults);
            pos = end + 1;
        }
    } catch (const AbandonedAction &) {
        // The row being built goes; the rows before it stay, as after any failure of the pass.
        if (table.state() == TableState::Insert)
            table.cancel();
        throw;
    }

    rowOperation([&] { table.post(); });
    d->checkRow(table, *plan, faults);

    // What is left: after the line's last terminator, and the names no value used.
    if (pos >= LinhaAtual.size())
        LinhaAtual.truncate(0); // the usual case: the whole line used, its room kept for the next
    else
        LinhaAtual.remove(0, pos);
    const size_t used = qMin(k, plan->rest.size() - 1);
    assignShared(LinhaEstrutura, plan->rest[used]);
}

void LoadPass::Impl::decodeColumn(MemTable &table, const Plan &plan, const ColPlan &c,
                                       QStringView raw, QStringView after, const QString &branch,
                                       RowFaults &faults)
{
    try {
        QStringView v = raw;
        QString replaced;
        bool recordFlags = false;
        if (c.special == Special::CdFilAuxPrato) {
            if (plan.isPrato && !isStandardMark(v))
                checkDishName(table, plan, c, after, branch);
        } else {
            recordFlags = checkCode(plan, c, v, replaced);
        }

        if (recordFlags) {
            if (plan.isPrato) {
                if (plan.iderroCol >= 0)
                    table.setText(plan.iderroCol, p.ErrosLinha);
            } else if (&table == &s.cdsPrato) {
                // A dish line decoded by another table's structure: the row being built is
                // the dish the flags belong to.
                if (plan.iderroCol >= 0)
                    table.setText(plan.iderroCol, mergeFlags(table.text(plan.iderroCol), p.ErrosLinha));
            } else {
                mergeIntoDish(s.cdsPrato, last.lastDishRow, p.ErrosLinha);
            }
        }

        if (c.special == Special::CdFilAuxPrato && !isStandardMark(v))
            v = branch;
        else if (c.special == Special::CdFilial && !isBlank(v))
            v = branch;

        if (c.col >= 0 && !isBlank(v))
            storeValue(table, c, v, faults);
    } catch (const AbandonedAction &) {
        // A lookup that could not be made: the pass ends with its message.
        throw;
    } catch (const std::exception &) {
        // A value the column cannot take: the column stays as it was.
    }
}

// Dish existence: the values after CDFILAUXPRAT are CDPRATO, CDFILIAL, NMPRATO. A local dish whose
// code names another dish at the destination raises position 4 and takes the destination's name.
// The code and the name are those the dish row will hold, cut to their columns: a code longer than
// its column is written cut, so it is the cut code that must not name another dish.
void LoadPass::Impl::checkDishName(MemTable &table, const Plan &plan, const ColPlan &c,
                                        QStringView after, const QString &branch)
{
    const auto asStored = [&table](QStringView v, QStringView column) {
        const int col = table.fieldIndex(column);
        return col >= 0 ? table.field(col).cut(v) : v;
    };
    const QStringView cdPrato = asStored(firstField(after), u"CDPRATO");
    const QStringView nmPrato = asStored(firstField(dropFirstField(dropFirstField(after))), u"NMPRATO");
    // Trimmed, as the server keys the dish it writes: " 000901" replaces 000901.
    const QString code = cdPrato.trimmed().toString();
    // A code with a NUL cannot be at the destination (nor be asked for).
    if (code.contains(QChar(0)))
        return;
    ++last.stats.serverPesqPrato;
    // A lookup that cannot be made leaves the check undone for this dish and for every other one
    // like it: the pass ends, with one message.
    const Result<QByteArray> r = lookups.dish(code, branch);
    if (!r)
        MensErro(r.failure());
    // Most replies are the same empty one: a reply identical to the one cdsPesqPrato holds would
    // load the same table again.
    if (!s.cdsPesqPrato.isActive() || r.value() != pesqPratoLoaded) {
        pesqPratoLoaded.clear();
        const Status st = DataPacket::load(s.cdsPesqPrato, r.value());
        if (!st)
            MensErro(st.failure());
        pesqPratoLoaded = r.value();
        ++last.stats.pesqPratoLoads;
    }
    if (s.cdsPesqPrato.rowCount() == 0)
        return;
    const int nm = s.cdsPesqPrato.fieldIndexOrThrow(u"NMPRATO");
    if (s.cdsPesqPrato.textViewAt(0, nm) == nmPrato)
        return;
    p.ErrosLinha[DishFlags::Prato] = u'1';
    p.NomePratoDestino = s.cdsPesqPrato.textAt(0, nm);
    if (plan.mnPratoLocalCol >= 0)
        table.setText(plan.mnPratoLocalCol, p.NomePratoDestino);
    if (plan.iderroCol >= 0)
        table.setText(plan.iderroCol, p.ErrosLinha);
    if (c.col >= 0)
        table.setText(c.col, branch);
}

// The unit, product and service of a value: a code the destination lacks raises its position (true:
// the line's flags changed). RECESERV stores the destination's service; other tables keep the
// origin's.
bool LoadPass::Impl::checkCode(const Plan &plan, const ColPlan &c, QStringView &v,
                                    QString &replaced)
{
    switch (c.special) {
    case Special::SgUnidade:
        if (isBlank(v))
            return false;
        if (!lookupOnce(&DestinationLookups::unit, v, units, last.stats.unitQueries).isEmpty())
            return false;
        p.ErrosLinha[DishFlags::UnidMedida] = u'1';
        return true;
    case Special::CdProduto:
        if (isBlank(v))
            return false;
        if (!lookupOnce(&DestinationLookups::product, v, products, last.stats.productQueries).isEmpty())
            return false;
        p.ErrosLinha[DishFlags::Produto] = u'1';
        return true;
    case Special::CdServFili:
        if (isBlank(v))
            return false;
        replaced = p.PesqServico(v);
        if (replaced.isEmpty()) {
            p.ErrosLinha[DishFlags::Servico] = u'1';
            // The map row an unpaired code was found on is the map's current row; a code the map
            // lacks has none, and no pairing on the grid can reach it.
            const MemTable &map = s.cdsServico;
            const int r = map.isActive() ? map.currentRow() : -1;
            unpairedServiceRow = r >= 0 && map.textViewAt(r, ServiceMap::ColOrig) == v ? r : -1;
            return true;
        }
        if (plan.isReceServ)
            v = replaced;
        return false;
    case Special::CdFilAuxPrato:
    case Special::CdFilial:
    case Special::None:
        break;
    }
    return false;
}

// A value that does not convert leaves the column null, as it always has, but is counted, so that
// the operator hears of it; so is a key value cut to its column and a number rounded at its scale.
// A number the column cannot hold at all holds its dish back (position 7).
void LoadPass::Impl::storeValue(MemTable &table, const ColPlan &c, QStringView v, RowFaults &faults)
{
    bool converted = true;
    switch (c.kind) {
    case FieldKind::Text:
        table.setText(c.col, v);
        // PostgreSQL cannot store a NUL; the dish is held back instead of the whole import failing
        // on it.
        if (lineHasNul && v.contains(QChar(0)))
            faults.controlChar = true;
        // A key cut to its column is the key the destination gets; blanks cut away change nothing.
        if (c.key && c.width > 0 && v.size() > c.width && !isBlank(v.sliced(table.field(c.col).cut(v).size())))
            noteColumn(last.notes.cut, table, c.col);
        break;
    case FieldKind::Number: {
        NumberFit fit = NumberFit::Fits;
        if (const auto n = decoder.toNumber(v, c.precision, c.scale, &fit)) {
            table.setNumber(c.col, *n);
            if (fit == NumberFit::Rounded)
                noteColumn(last.notes.rounded, table, c.col);
            else if (fit == NumberFit::TooLarge)
                faults.tooLarge = true;
        } else {
            converted = false;
        }
        break;
    }
    case FieldKind::Integer:
        if (const auto n = decoder.toInteger(v))
            table.setInteger(c.col, *n);
        else
            converted = false;
        break;
    case FieldKind::DateTime:
        if (const auto dt = decoder.toDateTime(v))
            table.setDateTime(c.col, *dt);
        else
            converted = false;
        break;
    case FieldKind::Boolean:
        if (const auto b = decoder.toBoolean(v))
            table.setBoolean(c.col, *b);
        else
            converted = false;
        break;
    }
    if (!converted)
        noteColumn(last.notes.unparsed, table, c.col);
}
