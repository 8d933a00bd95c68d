#include "importsession.h"

#include "ambiente.h"
#include "appserver.h"
#include "datapacket.h"
#include "exportreader.h"
#include "framework.h"
#include "messages.h"
#include "valuedecoder.h"

#include <QElapsedTimer>
#include <QSet>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

using namespace ExportText;

LoadObserver::~LoadObserver() = default;

void LoadObserver::showNotice(const QString &text)
{
    messageSink()->showInfo(text);
}

namespace {

const QString kNoErrors = QStringLiteral("0000000000");

// Structure indexes of the tables whose data lines are decoded; index 8 (SERVICO) never is.
enum : int { kIdxPrato = 3, kIdxRecePadr = 4, kIdxPratPadr = 5, kIdxReceFili = 6, kIdxPratFili = 7,
             kIdxReceServ = 9, kIdxPratServ = 10, kStructureSlots = 11 };

// The most lines the structure section may have, the data marker included.
constexpr int kMaxStructureLines = 31;
// Index of the data marker in a well-formed file: the structure lines before it are fixed.
constexpr int kMarkerIndex = 12;

enum class Special : std::uint8_t { None, CdFilAuxPrato, SgUnidade, CdProduto, CdServFili, CdFilial };

Special specialOf(QStringView columnName)
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

// A failure that ends the whole pass (a lookup that could not be made), carried out of the column
// guard of GetValues; the pass ends with its one message.
struct PassFailure {
    Failure failure;
};

constexpr quint64 kFnvBasis = 1469598103934665603ull;
constexpr quint64 kFnvPrime = 1099511628211ull;

inline quint64 hashPart(quint64 h, QStringView s)
{
    for (QChar c : s) {
        h ^= c.unicode();
        h *= kFnvPrime;
    }
    // A value no code unit takes ends each part: ("AB", "C") and ("A", "BC") hash apart.
    h ^= 0x1FFFF;
    h *= kFnvPrime;
    return h;
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
void rowOperation(F f)
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

QString mergeFlags(const QString &current, const QString &line)
{
    // A position raised on the dish stays raised: a recipe line only adds its own flags.
    QString merged = current.size() == 10 ? current : kNoErrors;
    for (int i = 0; i < 10 && i < line.size(); ++i)
        if (line[i] == u'1')
            merged[i] = u'1';
    return merged;
}

// Adds the flags to a dish row's IDERRO; leaves cdsPrato on that row.
void mergeIntoDish(MemTable &cdsPrato, int row, const QString &flags)
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

} // namespace

struct ImportSession::Impl {
    explicit Impl(NetConnection &n) : net(n) {}

    NetConnection &net;
    NullObserver nullObserver;
    LoadObserver *observer = &nullObserver;

    ExportReader reader;
    ValueDecoder decoder;
    int lastDishRow = -1;
    int markerIndex = -1;       // index of the data marker in lsbEstrutura; -1 when not met
    Stats stats;

    std::array<Plan, kStructureSlots> plans;
    std::array<bool, kStructureSlots> planReady{};
    Plan *currentPlan = nullptr; // set by Grava_Prato for GetValues

    // Answers of the lookups, valid for one pass: the destination does not change under a load.
    ViewCache units;
    ViewCache products;
    QByteArray pesqPratoLoaded; // the GetPesqPrato reply cdsPesqPrato holds

    // Per table of kTables, per row: the dish row its flags go to, or kNoKey for a row that was
    // already flagged for an empty key part; what the pass found besides the flags.
    std::array<std::vector<qint32>, 7> flagOwner;
    LoadNotes notes;
    QHash<int, int> controlCharLines; // dish row -> first line with a NUL
    int lineNumber = 0;               // of the data line being decoded; 0 outside the pass
    bool lineHasNul = false;

    // Notices already given to the operator by this session (each is told once).
    QSet<QString> noticesGiven;
    void notice(const QString &text)
    {
        if (noticesGiven.contains(text))
            return;
        noticesGiven.insert(text);
        observer->showNotice(text);
    }

    // The key and NUL checks of the row just posted, and the search for repeated keys at the end
    // of the pass (see below).
    void checkRow(ImportSession &s, MemTable &table, Plan &plan, bool controlChar);
    void flagRepeatedKeys(ImportSession &s);

    void noteUnparsed(const MemTable &table, int col)
    {
        const QString &column = table.field(col).name;
        for (LoadNotes::Unparsed &u : notes.unparsed) {
            if (u.column == column && u.table == table.name()) {
                ++u.count;
                if (u.lines.size() < LoadNotes::kMaxLines)
                    u.lines << lineNumber;
                return;
            }
        }
        notes.unparsed.push_back(LoadNotes::Unparsed{table.name(), column, 1, {lineNumber}});
    }

    QElapsedTimer sinceServe;
};

ImportSession::ImportSession(NetConnection &net)
    : cdsServico(serviceMap.cdsServico),
      cdsServDestino(serviceMap.cdsServDestino),
      qryPesqUnidMed(QStringLiteral("SELECT SGUNIDADE, DSUNIDADE FROM UNIDMEDIDA WHERE SGUNIDADE = :P_SGUNIDADE")),
      qryPesqProduto(QStringLiteral("SELECT CDPRODUTO, NMPRODUTO FROM PRODUTO WHERE CDPRODUTO = :P_CDPRODUTO")),
      qryFilial(ImportChecks::qryFilialSql()),
      d(std::make_unique<Impl>(net))
{
    serviceMap.setLoadingFlag(&Carregando);
    serviceMap.CdFilialDestino = [this] { return CdFilial; };
    ErrosLinha = kNoErrors;

    // A new dish starts without errors.
    cdsPrato.events.afterInsert = [](MemTable &t) {
        const int c = t.fieldIndex(u"IDERRO");
        if (c >= 0)
            t.setText(c, kNoErrors);
    };
    ImportChecks::installDiretoriosEvents(cdsDiretorios, net);
}

ImportSession::~ImportSession() = default;

void ImportSession::setObserver(LoadObserver *observer)
{
    d->observer = observer ? observer : &d->nullObserver;
}

LoadObserver &ImportSession::observer()
{
    return *d->observer;
}

NetConnection &ImportSession::net()
{
    return d->net;
}

int ImportSession::lastDishRow() const
{
    return d->lastDishRow;
}

const ImportSession::Stats &ImportSession::stats() const
{
    return d->stats;
}

const LoadNotes &ImportSession::loadNotes() const
{
    return d->notes;
}

int ImportSession::controlCharLine(int dishRow) const
{
    return d->controlCharLines.value(dishRow, 0);
}

QStringList ImportSession::loadWarnings() const
{
    QStringList out;
    const auto lineList = [](const QList<int> &lines) {
        QStringList l;
        for (int n : lines)
            l << QString::number(n);
        return l.join(QStringLiteral(", "));
    };
    for (const LoadNotes::Unparsed &u : d->notes.unparsed)
        out << Msg(QStringLiteral("Valor_N_Reconhecido"))
                   .arg(u.table + u'.' + u.column, QString::number(u.count), lineList(u.lines));
    if (!d->notes.nulLines.isEmpty()) {
        QList<int> first = d->notes.nulLines.mid(0, LoadNotes::kMaxLines);
        out << Msg(QStringLiteral("Caractere_Nulo"))
                   .arg(QString::number(d->notes.nulLines.size()), lineList(first));
    }
    if (d->notes.cutLastLine > 0)
        out << Msg(QStringLiteral("Linha_Incompleta")).arg(d->notes.cutLastLine);
    return out;
}

QList<QPair<QString, MemTable *>> ImportSession::dataTables()
{
    return {{QStringLiteral("PRATO"), &cdsPrato},         {QStringLiteral("RECEPADR"), &cdsRecePadr},
            {QStringLiteral("PRATPADR"), &cdsPratPadr},   {QStringLiteral("RECEFILI"), &cdsReceFili},
            {QStringLiteral("PRATFILI"), &cdsPratFili},   {QStringLiteral("RECESERV"), &cdsReceServ},
            {QStringLiteral("PRATSERV"), &cdsPratServ}};
}

int ImportSession::inPosicao(QStringView s)
{
    return ExportText::inPosicao(s);
}

// ---- The checks of the parameter panel ---------------------------------------------------------

void ImportSession::Vd_Arquivo(bool required)
{
    std::optional<ImportChecks::FileCheck> checked;
    try {
        checked = ImportChecks::Vd_Arquivo(NmArquivo, required, d->net, cdsParamGeral);
    } catch (...) {
        d->observer->focusArquivo();
        throw;
    }
    if (!checked || !RememberDirectory)
        return;
    // The file is good whatever becomes of its directory: a directory that does not fit the
    // column, or a destination that refuses the write, is told once and the load goes on.
    const Status remembered = ImportChecks::rememberDirectory(cdsDiretorios, checked->directory);
    if (!remembered)
        d->notice(remembered.error());
}

QString ImportSession::Vd_CdFilial(bool required, const QString &operador)
{
    try {
        const auto b = ImportChecks::Vd_CdFilial(CdFilial, required, operador, qryFilial, &CdFilial);
        return b.name;
    } catch (...) {
        d->observer->focusFilial();
        throw;
    }
}

QString ImportSession::loadDiretorios()
{
    const QByteArray payload = CheckResultServ(Rdm::GetDiretorios(d->net), true, 0);
    const Status st = DataPacket::load(cdsDiretorios, payload);
    if (!st)
        MensErro(st.error());
    return rememberedDirectory();
}

QString ImportSession::rememberedDirectory() const
{
    if (!cdsDiretorios.isActive() || cdsDiretorios.rowCount() == 0)
        return {};
    const int c = cdsDiretorios.fieldIndex(u"DSDIRETORIO");
    return c < 0 ? QString() : cdsDiretorios.text(c);
}

void ImportSession::closeLoadedTables()
{
    for (const auto &t : dataTables())
        t.second->close();
    serviceMap.clear();
}

// ---- Lookups -----------------------------------------------------------------------------------

namespace {

const QString &lookupOnce(ReadOnlyQuery &q, const QString &param, QStringView value, ViewCache &cache,
                          int &executions)
{
    if (const QString *hit = cache.find(value))
        return *hit;
    // No destination holds a code with a NUL, and PostgreSQL refuses one as a parameter.
    if (value.contains(QChar(0))) {
        cache.insert(value, QString());
        return *cache.find(value);
    }
    QString found;
    q.close();
    q.setParam(param, value.toString());
    q.open(); // prepared once, executed again with the new value
    ++executions;
    if (!q.eof())
        found = q.value(0).toString();
    q.close();
    cache.insert(value, found);
    return *cache.find(value);
}

} // namespace

QString ImportSession::PesqUnidMedida(const QString &sgUnidade)
{
    return lookupOnce(qryPesqUnidMed, QStringLiteral("P_SGUNIDADE"), sgUnidade, d->units, d->stats.unitQueries);
}

QString ImportSession::PesqProduto(const QString &cdProduto)
{
    return lookupOnce(qryPesqProduto, QStringLiteral("P_CDPRODUTO"), cdProduto, d->products, d->stats.productQueries);
}

// ---- The load pass -----------------------------------------------------------------------------

namespace {

struct TableEntry {
    QStringView name;
    int index;
    MemTable ImportSession::*table;
};

const TableEntry kTables[] = {
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
const std::initializer_list<QStringView> kKeyColumns[] = {
    {u"CDFILAUXPRAT", u"CDPRATO"},
    {u"CDFILAUXPRAT", u"CDPRATO", u"CDPRODUTO"},
    {u"CDFILAUXPRAT", u"CDPRATO"},
    {u"CDFILIAL", u"CDFILAUXPRAT", u"CDPRATO", u"CDPRODUTO"},
    {u"CDFILIAL", u"CDFILAUXPRAT", u"CDPRATO"},
    {u"CDFILIAL", u"CDSERVFILI", u"CDFILAUXPRAT", u"CDPRATO", u"CDPRODUTO"},
    {},
};
static_assert(std::size(kKeyColumns) == std::size(kTables));

// Counts a line under its table name (a data line, or the table's structure line: one too many).
void countTableLine(QByteArrayView line, std::array<int, std::size(kTables)> &counts)
{
    const QByteArrayView name = firstField(line);
    if (name.size() < 5 || name.size() > 8)
        return;
    for (size_t i = 0; i < std::size(kTables); ++i) {
        const QStringView t = kTables[i].name;
        if (t.size() != name.size())
            continue;
        bool same = true;
        for (qsizetype k = 0; k < t.size() && same; ++k)
            same = t[k].unicode() == static_cast<unsigned char>(name[k]);
        if (same) {
            ++counts[i];
            return;
        }
    }
}

// A bulk load that loads nothing leaves the table's columns reserved for that many rows.
void reserveRows(MemTable &table, int rows)
{
    if (rows <= 0 || !table.isActive() || table.rowCount() != 0)
        return;
    table.beginBulkLoad(rows);
    table.endBulkLoad();
}

void loadPacket(MemTable &table, const Result<QByteArray> &result)
{
    const QByteArray payload = CheckResultServ(result, true, 0);
    const Status st = DataPacket::load(table, payload);
    if (!st)
        MensErro(st.error());
}

// IDERRO and MNPRATOLOCAL belong to the screen; a dish packet without them gets them here.
void ensureDishColumns(MemTable &prato)
{
    QList<FieldDef> fields = prato.fields();
    bool changed = false;
    if (prato.fieldIndex(u"IDERRO") < 0) {
        FieldDef f = FieldDef::text(QStringLiteral("IDERRO"), 10);
        f.providerFlags = 0;
        fields << f;
        changed = true;
    }
    if (prato.fieldIndex(u"MNPRATOLOCAL") < 0) {
        FieldDef f = FieldDef::text(QStringLiteral("MNPRATOLOCAL"), 40);
        f.providerFlags = 0;
        fields << f;
        changed = true;
    }
    if (!changed)
        return;
    prato.close();
    prato.setFields(fields);
    prato.createDataSet();
}

} // namespace

void ImportSession::Grava_Tabelas()
{
    runLoadPass();
    // The clean-up has cleared the status line; what the operator should know about the file
    // (values left empty, a cut last line, NULs) stays there.
    const QStringList warnings = loadWarnings();
    if (!warnings.isEmpty())
        d->observer->setStatusText(warnings.join(u' '));
}

void ImportSession::runLoadPass()
{
    LoadObserver &obs = *d->observer;
    Carregando = true;
    d->lastDishRow = -1;
    d->markerIndex = -1;
    d->stats = {};
    d->planReady.fill(false);
    d->currentPlan = nullptr;
    d->units.clear();
    d->products.clear();
    d->pesqPratoLoaded.clear();
    for (auto &owners : d->flagOwner)
        owners = {};
    d->notes = {};
    d->controlCharLines.clear();
    d->lineNumber = 0;
    d->lineHasNul = false;
    d->decoder = ValueDecoder(Ambiente::instance().locale);

    Finally cleanup{[&] {
        // Runs to its end whatever failed; the failure itself goes on to the caller.
        Carregando = false;
        d->reader.close();
        d->currentPlan = nullptr;
        try {
            obs.setProgress(0);
            obs.setStatusText(QString());
            obs.serveEvents();
            obs.setPanelsEnabled(true);
        } catch (...) {
        }
    }};

    // 2. The destination branch's services, for the pairing.
    serviceMap.prepareDestinationServices();

    // 3-4. First pass: the service lines and the line count.
    if (!d->reader.open(NmArquivo))
        MensErro(d->reader.errorString());
    QByteArrayView line;
    d->reader.readRawLine(line);
    decodeInto(line, LinhaAtual);
    lsbServico.clear();
    TotalLinhas = 0;
    static constexpr char kServico[] = "SERVICO\xF8";
    std::array<int, std::size(kTables)> linesPerTable{};
    while (d->reader.readLine(line)) {
        if (line.size() >= 8 && std::memcmp(line.data(), kServico, 8) == 0)
            lsbServico << decode(line);
        else
            countTableLine(line, linesPerTable);
        ++TotalLinhas;
    }
    if (d->reader.failed())
        MensErro(d->reader.errorString());
    TotalLinhas -= 12;
    d->reader.close();

    // 5. The service map.
    if (serviceMap.build(lsbServico) > 0)
        obs.showServiceTab();

    // 6. The empty tables, their columns from the server.
    ActiveShowAvi(6);
    try {
        loadPacket(cdsPrato, Rdm::GetPrato(d->net));
        ensureDishColumns(cdsPrato);
        loadPacket(cdsRecePadr, Rdm::GetRecePadr(d->net));
        loadPacket(cdsReceServ, Rdm::GetReceServ(d->net));
        loadPacket(cdsReceFili, Rdm::GetReceFili(d->net));
        loadPacket(cdsPratPadr, Rdm::GetPratPadr(d->net));
        loadPacket(cdsPratFili, Rdm::GetPratFili(d->net));
        loadPacket(cdsPratServ, Rdm::GetPratServ(d->net));
    } catch (...) {
        DeactiveShowAvi();
        throw;
    }
    DeactiveShowAvi();
    // Room for the rows the first pass counted, taken once instead of growing a table of a
    // million rows step by step (each step holding the old storage and the new at once).
    for (size_t i = 0; i < std::size(kTables); ++i) {
        reserveRows(this->*(kTables[i].table), linesPerTable[i]);
        if (std::size(kKeyColumns[i]) > 0)
            d->flagOwner[i].reserve(size_t(std::max(0, linesPerTable[i])));
    }

    // 7-8. Second pass.
    if (!d->reader.open(NmArquivo))
        MensErro(d->reader.errorString());
    obs.setProgressRange(TotalLinhas);
    obs.setProgress(0);
    obs.setStatusText(Msg(QStringLiteral("VERIFICANDO_PRATOS")));
    obs.serveEvents();

    // 9. The structure section, up to and including the data marker.
    lsbEstrutura.clear();
    int counter = 0;
    bool markerSeen = false;
    while (!markerSeen && d->reader.readLine(line)) {
        decodeInto(line, LinhaAtual);
        lsbEstrutura << LinhaAtual;
        if (counter > kMaxStructureLines - 1) {
            obs.setPanelsEnabled(true);
            obs.focusArquivo();
            MensErroKey(QStringLiteral("Arquivo_Invalido"));
        }
        ++counter;
        markerSeen = isDataMarker(line);
    }
    if (d->reader.failed())
        MensErro(d->reader.errorString());
    if (markerSeen) {
        d->markerIndex = int(lsbEstrutura.size()) - 1;
        // The structure lines sit at fixed places ahead of the marker; an earlier marker would make
        // data lines take the marker, or lines after it, for their structure.
        if (d->markerIndex < kMarkerIndex) {
            obs.setPanelsEnabled(true);
            obs.focusArquivo();
            MensErroKey(QStringLiteral("Arquivo_Invalido"));
        }
    }

    // 10. The data lines. Line numbers count the lines read, as the operator is told them.
    int position = 0;
    const int linesAhead = int(lsbEstrutura.size());
    bool lastLineCut = false;
    d->sinceServe.start();
    while (d->reader.readLine(line)) {
        assignShared(ErrosLinha, kNoErrors);
        if (!NomePratoDestino.isNull())
            NomePratoDestino.clear();
        d->lineNumber = linesAhead + position + 1;
        d->lineHasNul = std::memchr(line.data(), 0, size_t(line.size())) != nullptr;
        {
            // Blanks after the last terminator are no sign of a cut.
            qsizetype n = line.size();
            while (n > 0 && static_cast<unsigned char>(line[n - 1]) <= 32)
                --n;
            lastLineCut = n > 0 && line[n - 1] != kTerminatorByte;
        }
        decodeInto(line, LinhaAtual);
        Grava_Prato(firstField(QStringView(LinhaAtual)));
        ++d->stats.dataLines;
        obs.setProgress(++position);
        // Window messages are let through several times a second, not per line: a repaint per
        // line would cost more than the line itself.
        if ((position & 63) == 0 && d->sinceServe.elapsed() >= 50) {
            obs.serveEvents();
            d->sinceServe.restart();
        }
    }
    if (d->reader.failed())
        MensErro(d->reader.errorString());
    // A file cut in the middle of its last line still loads what it has; the operator is told.
    if (lastLineCut)
        d->notes.cutLastLine = d->lineNumber;
    d->lineNumber = 0;
    d->lineHasNul = false;
    d->flagRepeatedKeys(*this);
}

void ImportSession::Grava_Prato(QStringView tabela)
{
    const TableEntry *entry = nullptr;
    for (const TableEntry &e : kTables) {
        if (tabela == e.name) {
            entry = &e;
            break;
        }
    }
    // The name and its terminator leave the front of the line (`tabela` may point into it).
    const qsizetype drop = qMin<qsizetype>(tabela.size() + 1, LinhaAtual.size());
    LinhaAtual.remove(0, drop);
    if (!entry) {
        LinhaEstrutura = QString();
        return; // SERVICO, an unknown or an empty name: the line only advances the progress
    }

    const int idx = entry->index;
    if (idx >= lsbEstrutura.size() || (d->markerIndex >= 0 && idx >= d->markerIndex)) {
        d->observer->setPanelsEnabled(true);
        d->observer->focusArquivo();
        MensErroKey(QStringLiteral("Arquivo_Invalido"));
    }
    MemTable &table = this->*(entry->table);

    Plan &plan = d->plans[size_t(idx)];
    if (!d->planReady[size_t(idx)] || plan.table != &table) {
        plan = Plan{};
        plan.source = lsbEstrutura.at(idx);
        plan.table = &table;
        d->planReady[size_t(idx)] = true;
        // Built below by GetValues from LinhaEstrutura; marked so GetValues keeps it.
    }
    assignShared(LinhaEstrutura, plan.source);
    d->currentPlan = &plan;
    GetValues(table);
    d->currentPlan = nullptr;

    if (&table == &cdsPrato) {
        d->lastDishRow = cdsPrato.currentRow();
        QString scratch;
        if (plan.iderroCol >= 0 && cdsPrato.textViewAt(d->lastDishRow, plan.iderroCol, scratch).contains(u'1'))
            d->observer->enableErrors();
    } else if (&table == &cdsRecePadr) {
        TemRecePadr = true;
    } else if (&table == &cdsReceFili) {
        TemReceFili = true;
    } else if (&table == &cdsReceServ) {
        TemReceServ = true;
    }
}

namespace {

void buildPlan(Plan &plan, MemTable &table, const QString &structure)
{
    plan.source = structure;
    plan.table = &table;
    plan.cols.clear();
    plan.rest.clear();
    QStringView s(structure);
    plan.tableName = firstField(s).toString();
    s = dropFirstField(s);
    plan.isPrato = plan.tableName == u"PRATO";
    plan.isReceServ = plan.tableName == u"RECESERV";
    plan.rest.push_back(s.toString());
    for (;;) {
        const int p = ExportText::inPosicao(s);
        if (p < 0)
            break;
        const QStringView name = s.first(p);
        ColPlan c;
        c.col = table.fieldIndex(name);
        if (c.col >= 0)
            c.kind = table.field(c.col).kind;
        c.special = specialOf(name);
        plan.cols.push_back(c);
        s = s.sliced(p + 1);
        plan.rest.push_back(s.toString());
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

// Position 5 on a row without its key or repeating a key of the file, position 6 on a row with a
// NUL in a stored value: on the dish row itself, or merged into the dish a recipe line belongs to.
// Keys are the values as stored (after the branch and service replacements and the columns' width);
// an empty CDFILIAL is the destination branch, which is what the server writes for it. Two dish
// rows with one key are both flagged, so that neither is written in place of the other; a recipe
// line flags its dish when it repeats an earlier line of its table.
void ImportSession::Impl::checkRow(ImportSession &s, MemTable &table, Plan &plan, bool controlChar)
{
    if (!plan.keysReady) {
        plan.keysReady = true;
        plan.keyTable = -1;
        plan.keyCols.clear();
        plan.keyIsFilial.clear();
        for (size_t i = 0; i < std::size(kTables); ++i)
            if (&(s.*(kTables[i].table)) == &table)
                plan.keyTable = int(i);
        if (plan.keyTable >= 0) {
            for (QStringView name : kKeyColumns[plan.keyTable]) {
                // Codes are text; a column the destination's table lacks cannot be checked.
                const int col = table.fieldIndex(name);
                if (col >= 0 && table.field(col).kind == FieldKind::Text) {
                    plan.keyCols.push_back(col);
                    plan.keyIsFilial.push_back(name == u"CDFILIAL");
                }
            }
        }
    }

    const int row = table.currentRow();
    const bool isDish = &table == &s.cdsPrato;
    const int dish = isDish ? row : lastDishRow;
    bool keyFault = false;
    if (!plan.keyCols.empty() && row >= 0) {
        QString keyScratch;
        for (size_t i = 0; i < plan.keyCols.size() && !keyFault; ++i)
            keyFault = !plan.keyIsFilial[i] && EmptyString(table.textViewAt(row, plan.keyCols[i], keyScratch));
        // Repeats are looked for once the whole file is in (flagRepeatedKeys), each row then
        // flagging the dish its line gave its flags to.
        std::vector<qint32> &owners = flagOwner[size_t(plan.keyTable)];
        if (owners.size() <= size_t(row))
            owners.resize(size_t(row) + 1, kNoKey);
        owners[size_t(row)] = keyFault ? kNoKey : dish;
    }
    if (!keyFault && !controlChar)
        return;

    if (keyFault)
        s.ErrosLinha[kFlagKey] = u'1';
    if (controlChar) {
        s.ErrosLinha[kFlagControlChar] = u'1';
        notes.nulLines << lineNumber;
    }
    mergeIntoDish(s.cdsPrato, dish, s.ErrosLinha);
    if (controlChar && dish >= 0 && !controlCharLines.contains(dish))
        controlCharLines.insert(dish, lineNumber);
}

// Rows with one key, per table: sorted by a hash of their stored key (8 bytes a row, one table at
// a time), then compared in earnest within each run of equal hashes against one row of each
// distinct key met in the run, so that a file of one key repeated a million times stays linear.
// Every dish row of a repeated key is flagged; a recipe row flags its dish when an earlier row of
// its table has its key.
void ImportSession::Impl::flagRepeatedKeys(ImportSession &s)
{
    const QStringView branch(s.CdFilial);
    QString repeated = kNoErrors;
    repeated[kFlagKey] = u'1';
    bool dishFlagged = false;
    for (size_t t = 0; t < std::size(kTables); ++t) {
        const std::vector<qint32> &owners = flagOwner[t];
        const Plan &plan = plans[size_t(kTables[t].index)];
        if (owners.empty() || !planReady[size_t(kTables[t].index)] || plan.keyCols.empty())
            continue;
        MemTable &table = s.*(kTables[t].table);
        const int rows = std::min<int>(int(owners.size()), table.rowCount());
        QString scratchA, scratchB;
        const auto part = [&](int r, size_t i, QString &scratch) {
            const QStringView v = table.textViewAt(r, plan.keyCols[i], scratch);
            return plan.keyIsFilial[i] && EmptyString(v) ? branch : v;
        };
        const auto same = [&](int a, int b) {
            for (size_t i = 0; i < plan.keyCols.size(); ++i)
                if (part(a, i, scratchA) != part(b, i, scratchB))
                    return false;
            return true;
        };
        std::vector<quint64> entries;
        entries.reserve(size_t(rows));
        for (int r = 0; r < rows; ++r) {
            if (owners[size_t(r)] == kNoKey)
                continue;
            quint64 h = kFnvBasis;
            for (size_t i = 0; i < plan.keyCols.size(); ++i)
                h = hashPart(h, part(r, i, scratchA));
            entries.push_back(((h ^ (h >> 32)) << 32) | quint32(r));
        }
        std::sort(entries.begin(), entries.end());
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
                    mergeIntoDish(s.cdsPrato, owners[size_t(r)], repeated);
                    if (&table == &s.cdsPrato) {
                        // Neither copy of a dish may be written in place of the other.
                        mergeIntoDish(s.cdsPrato, owners[size_t(*first)], repeated);
                        dishFlagged = true;
                    }
                }
            }
            a = b;
        }
    }
    // The table goes back to the dish loaded last, as the pass leaves it.
    if (lastDishRow >= 0 && lastDishRow < s.cdsPrato.rowCount() && s.cdsPrato.currentRow() != lastDishRow)
        s.cdsPrato.moveTo(lastDishRow);
    if (dishFlagged)
        observer->enableErrors();
}

void ImportSession::GetValues(MemTable &table)
{
    // The plan of this structure line: Grava_Prato's, made once per pass, or one made now.
    Plan local;
    Plan *plan = d->currentPlan;
    if (!plan || plan->table != &table || plan->source.constData() != LinhaEstrutura.constData()
        || plan->source.size() != LinhaEstrutura.size()) {
        plan = &local;
        buildPlan(local, table, LinhaEstrutura);
    } else if (plan->cols.empty() && plan->rest.empty()) {
        buildPlan(*plan, table, LinhaEstrutura);
    }

    rowOperation([&] { table.append(); });
    NomeTabela = plan->tableName;

    const QString branch = CdFilial;
    QStringView line(LinhaAtual);
    qsizetype pos = 0;
    size_t k = 0;
    bool controlChar = false;
    try {
        for (;;) {
            const qsizetype end = line.indexOf(QChar(kTerminator), pos);
            if (end < 0)
                break;
            const QStringView raw = line.sliced(pos, end - pos);
            const ColPlan *c = k < plan->cols.size() ? &plan->cols[k] : nullptr;
            if (c) {
                try {
                    QStringView v = raw;
                    QString replaced;
                    bool recordFlags = false;
                    switch (c->special) {
                    case Special::CdFilAuxPrato:
                        if (plan->isPrato && v != u"P") {
                            // Dish existence: the values after CDFILAUXPRAT are CDPRATO, CDFILIAL, NMPRATO.
                            QStringView w = line.sliced(end + 1);
                            const QStringView cdPrato = firstField(w);
                            w = dropFirstField(dropFirstField(w));
                            const QStringView nmPrato = firstField(w);
                            const QString code = cdPrato.toString();
                            // A code with a NUL cannot be at the destination (nor be asked for).
                            if (code.contains(QChar(0)))
                                break;
                            ++d->stats.serverPesqPrato;
                            // A lookup that cannot be made leaves the check undone for this dish
                            // and for every other one like it: the pass ends, with one message.
                            const Result<QByteArray> r = Rdm::GetPesqPrato(d->net, code, branch);
                            if (!r)
                                throw PassFailure{r.failure()};
                            // Most replies are the same empty one: a reply identical to the one
                            // cdsPesqPrato holds would load the same table again.
                            if (!cdsPesqPrato.isActive() || r.value() != d->pesqPratoLoaded) {
                                d->pesqPratoLoaded.clear();
                                const Status st = DataPacket::load(cdsPesqPrato, r.value());
                                if (!st)
                                    throw PassFailure{st.failure()};
                                d->pesqPratoLoaded = r.value();
                                ++d->stats.pesqPratoLoads;
                            }
                            if (cdsPesqPrato.rowCount() > 0) {
                                const int nm = cdsPesqPrato.fieldIndexOrThrow(u"NMPRATO");
                                if (cdsPesqPrato.textViewAt(0, nm) != nmPrato) {
                                    ErrosLinha[3] = u'1';
                                    NomePratoDestino = cdsPesqPrato.textAt(0, nm);
                                    if (plan->mnPratoLocalCol >= 0)
                                        table.setText(plan->mnPratoLocalCol, NomePratoDestino);
                                    if (plan->iderroCol >= 0)
                                        table.setText(plan->iderroCol, ErrosLinha);
                                    if (c->col >= 0)
                                        table.setText(c->col, branch);
                                }
                            }
                        }
                        break;
                    case Special::SgUnidade:
                        if (!EmptyString(v) && lookupOnce(qryPesqUnidMed, QStringLiteral("P_SGUNIDADE"), v, d->units, d->stats.unitQueries).isEmpty()) {
                            ErrosLinha[0] = u'1';
                            recordFlags = true;
                        }
                        break;
                    case Special::CdProduto:
                        if (!EmptyString(v) && lookupOnce(qryPesqProduto, QStringLiteral("P_CDPRODUTO"), v, d->products, d->stats.productQueries).isEmpty()) {
                            ErrosLinha[1] = u'1';
                            recordFlags = true;
                        }
                        break;
                    case Special::CdServFili:
                        if (!EmptyString(v)) {
                            replaced = PesqServico(v);
                            if (replaced.isEmpty()) {
                                ErrosLinha[2] = u'1';
                                recordFlags = true;
                            } else if (plan->isReceServ) {
                                v = replaced; // the destination's service; other tables keep the origin's
                            }
                        }
                        break;
                    case Special::CdFilial:
                    case Special::None:
                        break;
                    }

                    if (recordFlags) {
                        if (plan->isPrato) {
                            if (plan->iderroCol >= 0)
                                table.setText(plan->iderroCol, ErrosLinha);
                        } else if (&table == &cdsPrato) {
                            // A dish line decoded by another table's structure: the row being built is
                            // the dish the flags belong to.
                            if (plan->iderroCol >= 0)
                                table.setText(plan->iderroCol, mergeFlags(table.text(plan->iderroCol), ErrosLinha));
                        } else {
                            mergeIntoDish(cdsPrato, d->lastDishRow, ErrosLinha);
                        }
                    }

                    if (c->special == Special::CdFilAuxPrato && v != u"P")
                        v = branch;
                    else if (c->special == Special::CdFilial && !EmptyString(v))
                        v = branch;

                    if (!EmptyString(v) && c->col >= 0) {
                        // A value that does not convert leaves the column null, as it always has,
                        // but is counted, so that the operator hears of it.
                        bool converted = true;
                        switch (c->kind) {
                        case FieldKind::Text:
                            table.setText(c->col, v);
                            // PostgreSQL cannot store a NUL; the dish is held back instead of the
                            // whole import failing on it.
                            if (d->lineHasNul && v.contains(QChar(0)))
                                controlChar = true;
                            break;
                        case FieldKind::Number:
                            if (const auto n = d->decoder.toNumber(v))
                                table.setNumber(c->col, *n);
                            else
                                converted = false;
                            break;
                        case FieldKind::Integer:
                            if (const auto n = d->decoder.toInteger(v))
                                table.setInteger(c->col, *n);
                            else
                                converted = false;
                            break;
                        case FieldKind::DateTime:
                            if (const auto dt = d->decoder.toDateTime(v))
                                table.setDateTime(c->col, *dt);
                            else
                                converted = false;
                            break;
                        case FieldKind::Boolean:
                            if (const auto b = d->decoder.toBoolean(v))
                                table.setBoolean(c->col, *b);
                            else
                                converted = false;
                            break;
                        }
                        if (!converted)
                            d->noteUnparsed(table, c->col);
                    }
                } catch (const PassFailure &) {
                    throw;
                } catch (const AbandonedAction &) {
                    // Already shown where it was raised; the column is skipped.
                } catch (const DatabaseError &e) {
                    // A unit or product lookup that cannot be made: no check of the file can be
                    // trusted any more.
                    throw PassFailure{Failure{e.message(), {}}};
                } catch (const std::exception &) {
                    // A value the column cannot take: the column stays as it was.
                }
            }
            pos = end + 1;
            ++k;
        }
    } catch (const PassFailure &f) {
        // The row being built goes; the rows before it stay, as after any failure of the pass.
        if (table.state() == TableState::Insert)
            table.cancel();
        MensErro(f.failure.message, true, f.failure.key);
    }

    rowOperation([&] { table.post(); });
    d->checkRow(*this, table, *plan, controlChar);

    // What is left: after the line's last terminator, and the names no value used.
    LinhaAtual.remove(0, pos);
    const size_t used = qMin(k, plan->rest.size() - 1);
    assignShared(LinhaEstrutura, plan->rest[used]);
}

// ---- Import ------------------------------------------------------------------------------------

Result<QByteArray> ImportSession::callImportacao()
{
    auto packet = [](MemTable &t) { return t.isActive() ? DataPacket::save(t) : QByteArray(); };
    return Rdm::Importacao(d->net, packet(cdsPrato), packet(cdsRecePadr), packet(cdsReceFili),
                           packet(cdsServDestino), packet(cdsReceServ), packet(cdsPratPadr),
                           packet(cdsPratFili), packet(cdsServico), TemRecePadr, TemReceFili,
                           TemReceServ, CdFilial);
}

QStringList errorTexts(const QString &idErro, const QString &mnPratoLocal, int controlCharLine)
{
    QStringList out;
    static const char *const keys[] = {"Erro_UnidMedida", "Erro_Produto", "Erro_Servico",
                                       "Erro_Prato",      "Erro_Chave",   "Erro_Caractere"};
    for (int i = 0; i < int(std::size(keys)) && i < idErro.size(); ++i) {
        if (idErro[i] != u'1')
            continue;
        QString text = Msg(QString::fromLatin1(keys[i]));
        if (i == 3)
            text.replace(QStringLiteral("%s"), mnPratoLocal);
        else if (i == kFlagControlChar)
            text.replace(QStringLiteral("%s"), controlCharLine > 0 ? QString::number(controlCharLine) : QStringLiteral("?"));
        out << text;
    }
    return out;
}
