// The key and NUL checks of the load pass: per row as it is posted, and the repeated keys once the
// file is in.
#include "loadpass.h"
#include "loadpassparts.h"

#include "ambiente.h"
#include "appserver.h"
#include "messages.h"

#include <algorithm>
#include <cstring>
#include <utility>

using namespace ExportText;

// Which of the table's columns make its key, found on the table's first checked row.
void LoadPass::Impl::planKeys(const MemTable &table, Plan &plan) const
{
    plan.keysReady = true;
    plan.keyTable = -1;
    plan.keyCols.clear();
    plan.keyIsFilial.clear();
    for (size_t i = 0; i < std::size(kTables); ++i)
        if (&(s.*(kTables[i].table)) == &table)
            plan.keyTable = int(i);
    if (plan.keyTable < 0)
        return;
    for (QStringView name : kKeyColumns[plan.keyTable]) {
        // Codes are text; a column the destination's table lacks cannot be checked.
        const int col = table.fieldIndex(name);
        if (col >= 0 && table.field(col).kind == FieldKind::Text) {
            plan.keyCols.push_back(col);
            plan.keyIsFilial.push_back(name == u"CDFILIAL");
        }
    }
}

// Position 5 on a row without its key or repeating a key of the file, position 6 on a row with a
// NUL in a stored value, position 7 on a row with a number its column cannot hold: on the dish row
// itself, or on the dish a recipe row belongs to by its key, which is the dish the server would
// write the row with (flagRecipeFaults, once the file is in). Keys are the values as stored (after
// the branch and service replacements and the columns' width), trimmed as the server trims them: a
// part of nothing but blanks is missing, and an empty CDFILIAL is the destination branch, which is
// what the server writes for it. Two dish rows with one key are both flagged, so that neither is
// written in place of the other; a recipe line flags its dish when it repeats an earlier line of
// its table.
void LoadPass::Impl::checkRow(MemTable &table, Plan &plan, const RowFaults &faults)
{
    if (!plan.keysReady)
        planKeys(table, plan);

    const int row = table.currentRow();
    const bool isDish = &table == &s.cdsPrato;
    const int dish = isDish ? row : last.lastDishRow;
    // Which dishes an unpaired service flagged, for the operator who pairs it after the load.
    if (unpairedServiceRow >= 0) {
        auto &all = last.unpairedServiceDishes;
        if (all.size() <= size_t(unpairedServiceRow))
            all.resize(size_t(unpairedServiceRow) + 1);
        std::vector<int> &dishes = all[size_t(unpairedServiceRow)];
        if (dish >= 0 && (dishes.empty() || dishes.back() != dish))
            dishes.push_back(dish);
        unpairedServiceRow = -1;
    }
    bool keyFault = false;
    if (!plan.keyCols.empty() && row >= 0) {
        // The key's hash is taken here, from the cells just stored (no later step changes them),
        // so that the search for repeats does not read every key again.
        quint64 h = kFnvBasis;
        for (size_t i = 0; i < plan.keyCols.size() && !keyFault; ++i) {
            const QAnyStringView v = trimmedKey(table.textAnyViewAt(row, plan.keyCols[i]));
            if (!isBlank(v))
                h = hashPart(h, v);
            else if (plan.keyIsFilial[i])
                h = hashPart(h, QAnyStringView(s.CdFilial));
            else
                keyFault = true;
        }
        // Repeats are looked for once the whole file is in (flagRepeatedKeys), each row then
        // flagging the dish its line gave its flags to.
        std::vector<qint32> &owners = flagOwner[size_t(plan.keyTable)];
        std::vector<quint32> &hashes = keyHashes[size_t(plan.keyTable)];
        if (owners.size() <= size_t(row)) {
            owners.resize(size_t(row) + 1, kNoKey);
            hashes.resize(size_t(row) + 1, 0);
        }
        owners[size_t(row)] = keyFault ? kNoKey : dish;
        hashes[size_t(row)] = quint32(h ^ (h >> 32));
    }
    if (!keyFault && !faults.controlChar && !faults.tooLarge)
        return;

    if (faults.controlChar)
        last.notes.nulLines << lineNumber;
    if (!isDish) {
        // Its dish is known once every dish line is in: a recipe line may come before its dish, or
        // after another one.
        RecipeFault f{plan.keyTable, row, dish, lineNumber, faults.controlChar, kNoErrors};
        f.flags[DishFlags::Chave] = keyFault ? u'1' : u'0';
        f.flags[DishFlags::Caractere] = faults.controlChar ? u'1' : u'0';
        f.flags[DishFlags::Valor] = faults.tooLarge ? u'1' : u'0';
        if (f.table >= 0 && row >= 0)
            recipeFaults.push_back(std::move(f));
        return;
    }
    if (keyFault)
        p.ErrosLinha[DishFlags::Chave] = u'1';
    if (faults.controlChar)
        p.ErrosLinha[DishFlags::Caractere] = u'1';
    if (faults.tooLarge)
        p.ErrosLinha[DishFlags::Valor] = u'1';
    mergeIntoDish(s.cdsPrato, dish, p.ErrosLinha);
    if (faults.controlChar && dish >= 0 && !last.controlCharLines.contains(dish))
        last.controlCharLines.insert(dish, lineNumber);
}

QList<int> LoadPass::Impl::dishesOf(const MemTable &table, int row, int fallback)
{
    const MemTable &dishes = s.cdsPrato;
    const auto keyOf = [](const MemTable &t, int r, int aux, int prato) {
        return t.textAt(r, aux).trimmed() + QChar(0x1F) + t.textAt(r, prato).trimmed();
    };
    const int dAux = dishes.isActive() ? dishes.fieldIndex(u"CDFILAUXPRAT") : -1;
    const int dPrato = dishes.isActive() ? dishes.fieldIndex(u"CDPRATO") : -1;
    const int aux = table.fieldIndex(u"CDFILAUXPRAT");
    const int prato = table.fieldIndex(u"CDPRATO");
    if (dAux < 0 || dPrato < 0 || aux < 0 || prato < 0)
        return {fallback};
    if (!dishIndexReady) {
        // Made only for a file with a faulty recipe row: most files never need it.
        dishIndexReady = true;
        const int n = dishes.rowCount();
        nextDishOfKey.assign(size_t(n), -1);
        dishByKey.reserve(n);
        std::vector<int> lastOfKey(size_t(n), -1);
        for (int r = 0; r < n; ++r) {
            auto it = dishByKey.find(keyOf(dishes, r, dAux, dPrato));
            if (it == dishByKey.end()) {
                dishByKey.insert(keyOf(dishes, r, dAux, dPrato), r);
                lastOfKey[size_t(r)] = r;
            } else {
                const int tail = lastOfKey[size_t(*it)];
                nextDishOfKey[size_t(tail)] = r;
                lastOfKey[size_t(*it)] = r;
            }
        }
    }
    QList<int> out;
    for (int d = dishByKey.value(keyOf(table, row, aux, prato), -1); d >= 0;
         d = nextDishOfKey[size_t(d)])
        out << d;
    if (out.isEmpty())
        out << fallback;
    return out;
}

// Each faulty recipe row's flags on the dishes of its key (every copy of a repeated dish, so that
// no copy is written with the row's faults left out). A row whose key names no dish of the file is
// never written by the server; its flags go, as a recipe line's lookup flags do, to the dish
// loaded before it.
void LoadPass::Impl::flagRecipeFaults()
{
    for (const RecipeFault &f : recipeFaults) {
        const MemTable &table = s.*(kTables[size_t(f.table)].table);
        if (f.row >= table.rowCount())
            continue;
        for (int dish : dishesOf(table, f.row, f.lastDish)) {
            mergeIntoDish(s.cdsPrato, dish, f.flags);
            if (f.controlChar && dish >= 0) {
                auto it = last.controlCharLines.find(dish);
                if (it == last.controlCharLines.end())
                    last.controlCharLines.insert(dish, f.line);
                else if (f.line < *it)
                    *it = f.line;
            }
        }
    }
}

namespace {

// Sorts entries of (hash << 32 | row), made in row order, as std::sort would: by hash, rows of one
// hash in row order. A stable radix sort of the hashes in two passes of 16 bits keeps that order
// without comparing the rows; a small table goes to std::sort.
void sortByHash(std::vector<quint64> &entries)
{
    constexpr size_t kBuckets = size_t(1) << 16;
    if (entries.size() < kBuckets) {
        std::sort(entries.begin(), entries.end());
        return;
    }
    std::vector<quint64> other(entries.size());
    std::vector<size_t> start(kBuckets);
    for (const int shift : {32, 48}) {
        std::fill(start.begin(), start.end(), 0);
        for (const quint64 e : entries)
            ++start[(e >> shift) & 0xFFFF];
        size_t at = 0;
        for (size_t &n : start)
            at += std::exchange(n, at);
        for (const quint64 e : entries)
            other[start[(e >> shift) & 0xFFFF]++] = e;
        entries.swap(other);
    }
}

} // namespace

// Rows with one key, per table: sorted by a hash of their stored key (8 bytes a row, one table at
// a time), then compared in earnest within each run of equal hashes against one row of each
// distinct key met in the run, so that a file of one key repeated a million times stays linear.
// Every dish row of a repeated key is flagged; a recipe row flags its dish when an earlier row of
// its table has its key.
void LoadPass::Impl::flagRepeatedKeys()
{
    const QStringView branch(s.CdFilial);
    QString repeated = kNoErrors;
    repeated[DishFlags::Chave] = u'1';
    bool dishFlagged = false;
    for (size_t t = 0; t < std::size(kTables); ++t) {
        const std::vector<qint32> &owners = flagOwner[t];
        const Plan &plan = plans[size_t(kTables[t].index)];
        if (owners.empty() || !planReady[size_t(kTables[t].index)] || plan.keyCols.empty())
            continue;
        MemTable &table = s.*(kTables[t].table);
        const int rows = std::min<int>(int(owners.size()), table.rowCount());
        // The cells as the table keeps them: nothing copied or widened per row.
        const auto part = [&](int r, size_t i) -> QAnyStringView {
            const QAnyStringView v = trimmedKey(table.textAnyViewAt(r, plan.keyCols[i]));
            return plan.keyIsFilial[i] && isBlank(v) ? QAnyStringView(branch) : v;
        };
        const auto same = [&](int a, int b) {
            for (size_t i = 0; i < plan.keyCols.size(); ++i)
                if (!QAnyStringView::equal(part(a, i), part(b, i)))
                    return false;
            return true;
        };
        const std::vector<quint32> &hashes = keyHashes[t];
        std::vector<quint64> entries;
        entries.reserve(size_t(rows));
        for (int r = 0; r < rows; ++r)
            if (owners[size_t(r)] != kNoKey)
                entries.push_back((quint64(hashes[size_t(r)]) << 32) | quint32(r));
        sortByHash(entries);
        std::vector<int> distinct;
        for (size_t a = 0; a < entries.size();) {
            size_t b = a + 1;
            while (b < entries.size() && (entries[b] >> 32) == (entries[a] >> 32))
                ++b;
            if (b - a > 1) {
                distinct.clear();
                // In row order: the first row of each key is its original, the later ones repeats.
                for (size_t k = a; k < b; ++k) {
                    const int r = int(quint32(entries[k]));
                    auto first = std::find_if(distinct.begin(), distinct.end(), [&](int d) { return same(d, r); });
                    if (first == distinct.end()) {
                        distinct.push_back(r);
                        continue;
                    }
                    if (&table == &s.cdsPrato) {
                        // Neither copy of a dish may be written in place of the other.
                        mergeIntoDish(s.cdsPrato, owners[size_t(r)], repeated);
                        mergeIntoDish(s.cdsPrato, owners[size_t(*first)], repeated);
                        dishFlagged = true;
                    } else {
                        // The server would refuse the dish whose rows repeat a key: that dish.
                        for (int dish : dishesOf(table, r, owners[size_t(r)]))
                            mergeIntoDish(s.cdsPrato, dish, repeated);
                    }
                }
            }
            a = b;
        }
    }
    flagRecipeFaults();
    // The table goes back to the dish loaded last, as the pass leaves it.
    if (last.lastDishRow >= 0 && last.lastDishRow < s.cdsPrato.rowCount() && s.cdsPrato.currentRow() != last.lastDishRow)
        s.cdsPrato.moveTo(last.lastDishRow);
    if (dishFlagged)
        observer.dishFlagged();
}
