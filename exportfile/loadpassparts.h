#pragma once
// The load pass's own pieces, shared by the session's and the pass's sources (importsession.cpp,
// loadpass.cpp, rowdecoder.cpp, keychecks.cpp, lookups.cpp) and by nothing else: how a structure
// line decodes, the per-pass caches, the session's and the pass's private state.
#include "destinationlookups.h"
#include "importsession.h"
#include "loadpass.h"

#include "ambiente.h"

#include "datapacket.h"
#include "dishflags.h"
#include "exportreader.h"
#include "fnv1a.h"
#include "framework.h"
#include "messages.h"
#include "valuedecoder.h"

#include <QElapsedTimer>
#include <QSet>

#include <algorithm>
#include <array>
#include <type_traits>
#include <vector>

namespace LoadPassParts {


inline const QString kNoErrors = DishFlags::kNone.toString();

// Structure indexes of the tables whose data lines are decoded; index 8 (SERVICO) never is.
enum : int { kIdxPrato = 3, kIdxRecePadr = 4, kIdxPratPadr = 5, kIdxReceFili = 6, kIdxPratFili = 7,
             kIdxReceServ = 9, kIdxPratServ = 10, kStructureSlots = 11 };

// The most lines the structure section may have, the data marker included.
constexpr int kMaxStructureLines = 31;
// Index of the data marker in a well-formed file: the structure lines before it are fixed.
constexpr int kMarkerIndex = 12;

enum class Special : std::uint8_t { None, CdFilAuxPrato, SgUnidade, CdProduto, CdServFili, CdFilial };

inline Special specialOf(QStringView columnName)
{
    // Exact, case-sensitive: these rules follow the names as the exporting system writes them.
    if (columnName == u"CDFILAUXPRAT")
        return Special::CdFilAuxPrato;
    if (columnName == u"SGUNIDADE")
        return Special::SgUnidade;
    if (columnName == u"CDPRODUTO")
        return Special::CdProduto;
    if (columnName == u"CDSERVFILI")
        return Special::CdServFili;
    if (columnName == u"CDFILIAL")
        return Special::CdFilial;
    return Special::None;
}

struct ColPlan {
    int col = -1;                 // column of the target table; -1: the value drops out
    FieldKind kind = FieldKind::Text;
    Special special = Special::None;
    bool key = false;             // part of the table's key at the destination (kKeyColumns)
    // What the destination's column holds: text up to `width` characters, numbers of `precision`
    // digits, `scale` of them decimals (0: no limit).
    int width = 0;
    std::uint8_t precision = 0;
    std::uint8_t scale = 0;
};

// How one structure line decodes into one table, worked out once per pass instead of per line.
struct Plan {
    QString source;               // the structure line (shared with lsbEstrutura)
    MemTable *table = nullptr;
    QString tableName;            // its first field: NomeTabela
    bool isPrato = false;
    bool isReceServ = false;
    std::vector<ColPlan> cols;    // one per column name
    std::vector<QString> rest;    // LinhaEstrutura after k names were used (k = 0..cols.size())
    int iderroCol = -1;
    int mnPratoLocalCol = -1;
    // The columns of the table's key (text columns only), worked out on the plan's first line.
    bool keysReady = false;
    int keyTable = -1;            // index into kTables; -1: a table without a key check
    std::vector<int> keyCols;
    std::vector<bool> keyIsFilial;
};

// A row whose key has an empty part: already flagged, and no key to compare.
constexpr qint32 kNoKey = -2;

// What one data line did that its dish cannot be written with: a NUL in a stored text, a number
// larger than its column holds.
struct RowFaults {
    bool controlChar = false;
    bool tooLarge = false;
};

// A recipe row's flags of positions 5 to 7, given to its dish once the whole file is in: the dish
// of the row's own key (the one the server writes the row with), or, when the file has no dish of
// that key, the dish loaded before the row.
struct RecipeFault {
    int table = 0;       // index into kTables
    int row = 0;
    int lastDish = -1;   // the dish loaded last when the row was read
    int line = 0;        // its line in the file
    bool controlChar = false;
    QString flags;       // positions 5 to 7 only
};

// The code units of a cell as the table keeps it, one byte or two a character, handed to f as a
// pointer and a count: nothing copied or widened (a UTF-8 view, which no table gives, is converted).
template <typename F>
inline auto withUnits(QAnyStringView s, F f)
{
    return s.visit([&f](auto v) {
        using V = decltype(v);
        if constexpr (std::is_same_v<V, QStringView>)
            return f(v.utf16(), v.size());
        else if constexpr (std::is_same_v<V, QLatin1StringView>)
            return f(reinterpret_cast<const uchar *>(v.data()), v.size());
        else {
            const QString wide = v.toString();
            return f(wide.utf16(), wide.size());
        }
    });
}

// Equality of two short texts inline: the per-line table name and the per-value "P" of a standard
// dish, where a library call would cost more than the comparison.
inline bool sameText(QStringView a, QStringView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

// firstField inline, for the table name at the front of every data line: a short scan.
inline QStringView leadingField(QStringView s)
{
    const char16_t *p = s.utf16();
    for (qsizetype i = 0, n = s.size(); i < n; ++i)
        if (p[i] == ExportText::kTerminator)
            return s.first(i);
    return {};
}

// The branch column's value of a standard dish.
inline bool isStandardMark(QStringView v)
{
    return v.size() == 1 && v[0] == u'P';
}

// EmptyString for the per-value paths: no characters but blanks and control characters.
inline bool isBlank(QStringView s)
{
    for (const QChar c : s)
        if (c.unicode() > 0x20)
            return false;
    return true;
}

inline bool isBlank(QAnyStringView s)
{
    return withUnits(s, [](const auto *p, qsizetype n) {
        for (qsizetype i = 0; i < n; ++i)
            if (p[i] > 0x20)
                return false;
        return true;
    });
}

// A key part as the destination compares it: the blanks QString::trimmed cuts (U+00A0 among them)
// gone at either end, so that " 100" and "100" are one key here as they are one row there.
inline QAnyStringView trimmedKey(QAnyStringView s)
{
    return s.visit([](auto v) -> QAnyStringView {
        using V = decltype(v);
        if constexpr (std::is_same_v<V, QStringView> || std::is_same_v<V, QLatin1StringView>) {
            qsizetype b = 0, e = v.size();
            while (b < e && QChar(v[b]).isSpace())
                ++b;
            while (e > b && QChar(v[e - 1]).isSpace())
                --e;
            return v.sliced(b, e - b);
        } else {
            return QAnyStringView(v); // no table gives UTF-8
        }
    });
}

constexpr quint64 kFnvBasis = Fnv1a::kBasis;
constexpr quint64 kFnvPrime = Fnv1a::kPrime;

inline quint64 hashPart(quint64 h, QStringView s)
{
    h = Fnv1a::add(h, s.utf16(), s.size());
    // A value no code unit takes ends each part: ("AB", "C") and ("A", "BC") hash apart.
    h ^= 0x1FFFF;
    h *= kFnvPrime;
    return h;
}

// The same hash of a cell as the table keeps it: a character hashes alike in either width.
inline quint64 hashPart(quint64 h, QAnyStringView s)
{
    return withUnits(s, [h](const auto *p, qsizetype n) mutable {
        h = Fnv1a::add(h, p, n);
        h ^= 0x1FFFF;
        h *= kFnvPrime;
        return h;
    });
}


class NullObserver final : public LoadObserver {};

// Answers of a lookup by code, found without copying the code: open addressing over an FNV-1a hash
// of the UTF-16 units. A load asks a few dozen distinct units and products a million times.
class ViewCache {
public:
    const QString *find(QStringView key) const
    {
        if (m_slots.empty())
            return nullptr;
        const size_t h = hash(key);
        for (size_t i = h & m_mask;; i = (i + 1) & m_mask) {
            const Slot &s = m_slots[i];
            if (!s.used)
                return nullptr;
            if (s.hash == h && QStringView(s.key) == key)
                return &s.value;
        }
    }
    void insert(QStringView key, const QString &value)
    {
        if ((m_count + 1) * 2 > m_slots.size())
            grow();
        place(Slot{key.toString(), value, hash(key), true});
        ++m_count;
    }
    void clear()
    {
        m_slots.clear();
        m_mask = 0;
        m_count = 0;
    }

private:
    struct Slot {
        QString key, value;
        size_t hash = 0;
        bool used = false;
    };
    static size_t hash(QStringView s)
    {
        quint64 h = 1469598103934665603ull;
        for (QChar c : s) {
            h ^= c.unicode();
            h *= 1099511628211ull;
        }
        return size_t(h);
    }
    void place(Slot s)
    {
        for (size_t i = s.hash & m_mask;; i = (i + 1) & m_mask) {
            if (!m_slots[i].used) {
                m_slots[i] = std::move(s);
                return;
            }
        }
    }
    void grow()
    {
        std::vector<Slot> old;
        old.swap(m_slots);
        m_slots.resize(old.empty() ? 64 : old.size() * 2);
        m_mask = m_slots.size() - 1;
        for (Slot &s : old)
            if (s.used)
                place(std::move(s));
    }
    std::vector<Slot> m_slots;
    size_t m_mask = 0;
    size_t m_count = 0;
};

// Shares the source's characters unless the target already does: no reference count traffic for
// the state fields that most lines set to the same text.
inline void assignShared(QString &target, const QString &source)
{
    if (target.constData() != source.constData() || target.size() != source.size())
        target = source;
}

// A row that cannot be inserted or posted ends the pass with the table's own message.
template <typename F>
inline void rowOperation(F f)
{
    try {
        f();
    } catch (const AbandonedAction &) {
        throw;
    } catch (const std::exception &e) {
        MensErro(QString::fromUtf8(e.what()));
    }
}

// Runs the clean-up of the pass on every way out.
template <typename F>
struct Finally {
    F f;
    ~Finally() { f(); }
};
template <typename F>
Finally(F) -> Finally<F>;

inline QString mergeFlags(const QString &current, const QString &line)
{
    // A position raised on the dish stays raised: a recipe line only adds its own flags.
    DishFlags merged(current);
    merged.merge(line);
    return merged.text();
}

// Adds the flags to a dish row's IDERRO; leaves cdsPrato on that row.
inline void mergeIntoDish(MemTable &cdsPrato, int row, const QString &flags)
{
    if (row < 0 || row >= cdsPrato.rowCount())
        return; // a recipe line ahead of every dish line has no dish to carry its flags
    const int col = cdsPrato.fieldIndex(u"IDERRO");
    if (col < 0)
        return;
    const QString merged = mergeFlags(cdsPrato.textAt(row, col), flags);
    QString scratch;
    if (merged == cdsPrato.textViewAt(row, col, scratch))
        return;
    if (cdsPrato.currentRow() != row)
        cdsPrato.moveTo(row);
    cdsPrato.edit();
    cdsPrato.setText(col, merged);
    cdsPrato.post();
}



struct TableEntry {
    QStringView name;
    int index;
    MemTable ImportSession::*table;
};

inline const TableEntry kTables[] = {
    {u"PRATO", kIdxPrato, &ImportSession::cdsPrato},
    {u"RECEPADR", kIdxRecePadr, &ImportSession::cdsRecePadr},
    {u"PRATPADR", kIdxPratPadr, &ImportSession::cdsPratPadr},
    {u"RECEFILI", kIdxReceFili, &ImportSession::cdsReceFili},
    {u"PRATFILI", kIdxPratFili, &ImportSession::cdsPratFili},
    {u"RECESERV", kIdxReceServ, &ImportSession::cdsReceServ},
    {u"PRATSERV", kIdxPratServ, &ImportSession::cdsPratServ},
};

// The columns that make a row's key at the destination, per table of kTables (same order). The
// server cannot write a row with an empty one, nor two rows with the same key; PRATSERV is not sent.
inline const std::initializer_list<QStringView> kKeyColumns[] = {
    {u"CDFILAUXPRAT", u"CDPRATO"},
    {u"CDFILAUXPRAT", u"CDPRATO", u"CDPRODUTO"},
    {u"CDFILAUXPRAT", u"CDPRATO"},
    {u"CDFILIAL", u"CDFILAUXPRAT", u"CDPRATO", u"CDPRODUTO"},
    {u"CDFILIAL", u"CDFILAUXPRAT", u"CDPRATO"},
    {u"CDFILIAL", u"CDSERVFILI", u"CDFILAUXPRAT", u"CDPRATO", u"CDPRODUTO"},
    {},
};
static_assert(std::size(kKeyColumns) == std::size(kTables));

} // namespace LoadPassParts

using namespace LoadPassParts;

// What the session keeps of the passes: whom they tell, what stops them, and what the last one
// found.
struct ImportSession::Impl {
    explicit Impl(NetConnection &n) : net(n), lookups(n) {}

    NetConnection &net;
    ConnectionLookups lookups; // what the session's passes ask the destination
    NullObserver nullObserver;
    LoadObserver *observer = &nullObserver;

    // The last pass's results.
    int lastDishRow = -1;
    Stats stats;
    LoadNotes notes;
    QHash<int, int> controlCharLines; // dish row -> first line with a NUL
    // Per row of the service map, the dish rows its service flagged for want of a destination,
    // in load order, each once.
    std::vector<std::vector<int>> unpairedServiceDishes;
    std::vector<int> dishLines;       // dish row -> its line in the file
    // The file as the last complete pass read it (size and SHA-256 of the bytes turned into rows);
    // empty until a pass has read the whole file.
    ImportOrigin loaded;

    StopRequest ownStop;
    StopRequest *stop = &ownStop;

    // Notices already given to the operator by this session (each is told once).
    QSet<QString> noticesGiven;
    void notice(const QString &text)
    {
        if (noticesGiven.contains(text))
            return;
        noticesGiven.insert(text);
        observer->showNotice(text);
    }
};

// The state of one pass besides the line: the reader, the plans, the answers of the destination.
struct LoadPass::Impl {
    Impl(ImportSession &session, LoadPass &pass, DestinationLookups &destination)
        : s(session), p(pass), lookups(destination), last(*session.d), observer(*last.observer),
          decoder(Ambiente::instance().locale)
    {
    }

    ImportSession &s;
    LoadPass &p;
    DestinationLookups &lookups;
    ImportSession::Impl &last; // where the results of the pass go
    LoadObserver &observer;

    Sha256 fileHash;            // of the second reading, the one that fills the tables
    ExportReader reader;        // after the hash its read-ahead thread writes into
    ValueDecoder decoder;
    int markerIndex = -1;       // index of the data marker in lsbEstrutura; -1 when not met
    // Lines per table of kTables, counted by the first reading for the second's reservations.
    std::array<int, std::size(kTables)> linesPerTable{};

    std::array<Plan, kStructureSlots> plans;
    std::array<bool, kStructureSlots> planReady{};
    Plan *currentPlan = nullptr; // set by Grava_Prato for GetValues
    bool planOfLine = false;     // currentPlan is the line's, whatever LinhaEstrutura holds

    // Answers of the lookups, valid for one pass: the destination does not change under a load.
    // A code crosses to the destination on a miss only.
    ViewCache units;
    ViewCache products;
    using Lookup = Result<QString> (DestinationLookups::*)(const QString &);
    const QString &lookupOnce(Lookup lookup, QStringView value, ViewCache &cache, int &asked);
    QByteArray pesqPratoLoaded; // the GetPesqPrato reply cdsPesqPrato holds

    // Per table of kTables, per row: the dish row its flags go to, or kNoKey for a row that was
    // already flagged for an empty key part.
    std::array<std::vector<qint32>, 7> flagOwner;
    std::array<std::vector<quint32>, 7> keyHashes; // per table and row: its key's hash (checkRow)
    int lineNumber = 0;               // of the data line being decoded; 0 outside the pass
    std::vector<qsizetype> fieldEnds; // the terminators of the data line being decoded
    bool lineHasNul = false;
    int unpairedServiceRow = -1; // the map row of the line being decoded, when it raised position 3
    QElapsedTimer sinceServe;
    std::optional<Failure> cleanupFailure; // what the observer failed with during the clean-up

    // Ends the pass, as a failure without a message, when a stop was asked for.
    void stopIfRequested() const
    {
        if (last.stop->requested())
            MensErro(Msg(QStringLiteral("Carga_Cancelada")), false, QStringLiteral("Carga_Cancelada"));
    }

    // The key and NUL checks of the row just posted, and the search for repeated keys at the end
    // of the pass (keychecks.cpp).
    void checkRow(MemTable &table, Plan &plan, const RowFaults &faults);
    void planKeys(const MemTable &table, Plan &plan) const;
    void flagRepeatedKeys();
    // The recipe rows' faults and repeats go to the dish of their key (keychecks.cpp).
    std::vector<RecipeFault> recipeFaults;
    void flagRecipeFaults();
    // The dish rows of a recipe row's key (CDFILAUXPRAT and CDPRATO, compared as the server
    // compares them: trimmed); `fallback` alone when the file has no dish of that key.
    QList<int> dishesOf(const MemTable &table, int row, int fallback);
    QHash<QString, int> dishByKey;    // trimmed key -> first dish row; made on first need
    std::vector<int> nextDishOfKey;   // dish row -> the next dish row of the same key, -1 at the end
    bool dishIndexReady = false;

    // The row decoder's steps for one value of a data line (`after`: the rest of the line).
    void decodeColumn(MemTable &table, const Plan &plan, const ColPlan &c, QStringView raw, QStringView after,
                      const QString &branch, RowFaults &faults);
    void checkDishName(MemTable &table, const Plan &plan, const ColPlan &c, QStringView after,
                       const QString &branch);
    bool checkCode(const Plan &plan, const ColPlan &c, QStringView &v, QString &replaced);
    void storeValue(MemTable &table, const ColPlan &c, QStringView v, RowFaults &faults);

    // Counts the line's value of a column under one kind of note (values that did not convert,
    // codes cut, numbers rounded).
    void noteColumn(QList<LoadNotes::Unparsed> &notes, const MemTable &table, int col)
    {
        const QString &column = table.field(col).name;
        for (LoadNotes::Unparsed &u : notes) {
            if (u.column == column && u.table == table.name()) {
                ++u.count;
                if (u.lines.size() < LoadNotes::kMaxLines)
                    u.lines << lineNumber;
                return;
            }
        }
        notes.push_back(LoadNotes::Unparsed{table.name(), column, 1, {lineNumber}});
    }
};
