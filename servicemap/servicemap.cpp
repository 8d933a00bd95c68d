#include "servicemap.h"

#include "exportfields.h"
#include "framework.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <vector>

namespace {

using ExportText::dropFirstField;
using ExportText::firstField;


} // namespace

ServiceMap::ServiceMap()
    : cdsServico(QStringLiteral("SERVICO")),
      cdsServDestino(QStringLiteral("SERVDESTINO")),
      qryPesqServico(QStringLiteral("SELECT CDSERVFILI, NMSERVICO FROM SERVICO "
                                    "WHERE CDFILIAL = :P_CDFILIAL ORDER BY CDSERVFILI")),
      qryPesqServicoAux(QStringLiteral("SELECT CDSERVFILI, NMSERVICO FROM SERVICO "
                                       "WHERE CDFILIAL = :P_CDFILIAL AND CDSERVFILI = :P_CDSERVFILI")),
      qryPesqPareado(QStringLiteral("SELECT CDSERVFILIORIG, NMSERVICOORIG, CDSERVFILIDEST FROM SERVPARE "
                                    "WHERE CDFILIAL = :P_CDFILIAL"))
{
    cdsServico.setFields(servicoFields());
    cdsServDestino.setFields(servDestinoFields());

    auto &e = cdsServico.events;
    e.onNewRecord = [this](MemTable &t) { cdsServicoNewRecord(t); };
    e.beforeEdit = [this](MemTable &t) { cdsServicoBeforeEdit(t); };
    e.beforePost = [this](MemTable &t) { cdsServicoBeforePost(t); };
    e.afterPost = [this](MemTable &t) { cdsServicoAfterPost(t); };
    e.beforeDelete = [this](MemTable &t) { cdsServicoBeforeDelete(t); };
    e.afterDelete = [this](MemTable &t) { cdsServicoAfterDelete(t); };
    e.beforeCancel = [this](MemTable &t) { cdsServicoBeforeCancel(t); };
    e.afterCancel = [this](MemTable &t) { cdsServicoAfterCancel(t); };
}

ServiceMap::~ServiceMap() = default;

QList<FieldDef> ServiceMap::servicoFields()
{
    return {FieldDef::text(QStringLiteral("CDSERVFILIORIG"), 5, QStringLiteral("Serviço Origem")),
            FieldDef::text(QStringLiteral("CDSERVFILIDEST"), 5, QStringLiteral("Serviço Destino")),
            FieldDef::text(QStringLiteral("NMSERVICOORIG"), 40, QStringLiteral("Serviço Origem")),
            FieldDef::text(QStringLiteral("NMSERVICODEST"), 40, QStringLiteral("Serviço Destino"))};
}

QList<FieldDef> ServiceMap::servDestinoFields()
{
    return {FieldDef::text(QStringLiteral("CDSERVFILI"), 5, QStringLiteral("Código")),
            FieldDef::text(QStringLiteral("NMSERVICO"), 40, QStringLiteral("Nome"))};
}

QString ServiceMap::upperAscii(QStringView s)
{
    QString out(s.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        out[i] = QChar(c >= u'a' && c <= u'z' ? char16_t(c - 32) : c);
    }
    return out;
}

void ServiceMap::setLoadingFlag(const bool *carregando)
{
    m_carregando = carregando;
}

bool ServiceMap::carregando() const
{
    return m_building || (m_carregando && *m_carregando);
}

void ServiceMap::prepareDestinationServices()
{
    qryPesqServico.close();
    qryPesqServico.setParam(QStringLiteral("P_CDFILIAL"), CdFilialDestino ? CdFilialDestino() : QString());
    qryPesqServico.openOrAbandon();
}

int ServiceMap::build(const QStringList &lsbServico)
{
    m_rememberedDest.clear();
    // What the operator paired for one branch says nothing about another.
    if (!m_typed.isEmpty() && m_typedBranch != (CdFilialDestino ? CdFilialDestino() : QString()))
        forgetTypedPairs();
    if (lsbServico.size() < 2) {
        // A pair given for a file without services names an origin the file does not have.
        if (!paresInformados.isEmpty())
            MensErroKey(QStringLiteral("Serv_Nao_Cad"));
        return 0;
    }

    // The destination's services, walked in code order for every line; read once.
    std::vector<Dest> dests;
    if (!qryPesqServico.isOpen())
        prepareDestinationServices();
    for (; !qryPesqServico.eof(); qryPesqServico.next()) {
        Dest d{qryPesqServico.value(0).toString(), qryPesqServico.value(1).toString(), {}};
        d.upperName = upperAscii(d.name);
        dests.push_back(std::move(d));
    }

    // The build's own inserts and posts skip the new-row cancel and the validation even when the
    // owner is not in a load pass (a test, a rebuild).
    m_building = true;
    struct Reset {
        bool &b;
        ~Reset() { b = false; }
    } reset{m_building};

    int built = 0;
    for (qsizetype i = 1; i < lsbServico.size(); ++i) {
        QStringView line = dropFirstField(lsbServico.at(i));
        const QStringView code = firstField(line);
        line = dropFirstField(line);
        const QStringView name = firstField(line);

        if (!cdsServico.isActive())
            cdsServico.createDataSet();
        cdsServico.insert();
        cdsServico.setText(ColOrig, code);
        cdsServico.setText(ColNmOrig, name);
        // Pairing by name only; the whole list is walked, so the highest code among equal names wins.
        const QString upper = upperAscii(name);
        for (const Dest &d : dests) {
            if (d.upperName == upper) {
                cdsServico.setText(ColDest, d.code);
                cdsServico.setText(ColNmDest, d.name);
            }
        }
        cdsServico.post();
        ++built;
    }

    // The pairing by name stands; what the operator gave comes next, and memory fills what is
    // still unpaired. The build leaves the map where its last insert did.
    const int lastPosted = cdsServico.currentRow();
    for (const auto &[origem, destino] : std::as_const(paresInformados))
        applyGivenPair(origem, destino);
    applyTypedPairs(dests);
    applyRemembered(dests);
    if (cdsServico.currentRow() != lastPosted && lastPosted >= 0)
        cdsServico.moveTo(lastPosted);
    return built;
}

void ServiceMap::applyGivenPair(const QString &origem, const QString &destino)
{
    if (EmptyString(origem))
        MensErroKey(QStringLiteral("Serv_Orig_Deve"));
    if (EmptyString(destino))
        MensErroKey(QStringLiteral("Serv_Dest_Deve"));
    // The origin code as the file has it; a short code typed as on the grid ("1") in its
    // canonical form.
    int row = cdsServico.find(ColOrig, origem);
    if (row < 0)
        row = cdsServico.find(ColOrig, Ajusta(origem, 5));
    if (row < 0)
        MensErroKey(QStringLiteral("Serv_Nao_Cad"));

    // As on the grid: the edit releases the row's destination, the validation adjusts the code and
    // refuses one that another row holds or that the branch lacks, and the post enters it in use.
    cdsServico.moveTo(row);
    cdsServico.edit();
    try {
        cdsServico.setText(ColDest, destino);
        Vd_CdServDestino(true);
    } catch (...) {
        cdsServico.cancel();
        throw;
    }
    cdsServico.post();
}

void ServiceMap::applyTypedPairs(const std::vector<Dest> &dests)
{
    if (m_typed.isEmpty() || !cdsServico.isActive())
        return;
    // Every row the operator touched lets go of its destination first, so that a swap he made in
    // steps is not refused for a destination the other row still holds; then each takes its own.
    // The grid validated each of them against the map and the branch as they stood then: a file
    // without that origin, or a destination the branch lost or another row now holds, skips it.
    for (const auto &[origem, destino] : std::as_const(m_typed)) {
        const int row = cdsServico.find(ColOrig, origem);
        if (row >= 0 && cdsServico.textAt(row, ColDest) != destino && !EmptyString(cdsServico.textAt(row, ColDest)))
            setRowDestination(row, QString(), QString());
    }
    for (const auto &[origem, destino] : std::as_const(m_typed)) {
        const int row = cdsServico.find(ColOrig, origem);
        if (row < 0 || EmptyString(destino) || cdsServico.textAt(row, ColDest) == destino)
            continue;
        // A structured binding is not captured by every compiler the project builds with (clang 14).
        const QString &wanted = destino;
        const auto d = std::find_if(dests.begin(), dests.end(), [&wanted](const Dest &x) { return x.code == wanted; });
        if (d == dests.end() || (cdsServDestino.isActive() && cdsServDestino.find(ColDestCodigo, destino) >= 0))
            continue;
        setRowDestination(row, d->code, d->name);
    }
}

// An edit and a post of the build: the row events keep the destinations in use.
void ServiceMap::setRowDestination(int row, const QString &code, const QString &name)
{
    cdsServico.moveTo(row);
    cdsServico.edit();
    cdsServico.setText(ColDest, code);
    cdsServico.setText(ColNmDest, name);
    cdsServico.post();
}

void ServiceMap::rememberTyped(const QString &origem, const QString &destino)
{
    const QString branch = CdFilialDestino ? CdFilialDestino() : QString();
    if (branch != m_typedBranch)
        m_typed.clear();
    m_typedBranch = branch;
    m_typed.removeIf([&](const QPair<QString, QString> &p) { return p.first == origem; });
    m_typed.append({origem, destino});
}

void ServiceMap::forgetTypedPairs()
{
    m_typed.clear();
    m_typedBranch.clear();
}

void ServiceMap::applyRemembered(const std::vector<Dest> &dests)
{
    const int n = cdsServico.rowCount();
    bool anyUnpaired = false;
    for (int r = 0; r < n && !anyUnpaired; ++r)
        anyUnpaired = EmptyString(cdsServico.textAt(r, ColDest));
    if (!anyUnpaired)
        return;

    // origin code + NUL + origin name -> destination code. A destination made before pairings were
    // remembered has no table yet: it has nothing to remember, which is no failure.
    QHash<QString, QString> remembered;
    qryPesqPareado.close();
    qryPesqPareado.setParam(QStringLiteral("P_CDFILIAL"), CdFilialDestino ? CdFilialDestino() : QString());
    if (!qryPesqPareado.open())
        return;
    for (; !qryPesqPareado.eof(); qryPesqPareado.next())
        remembered.insert(qryPesqPareado.value(0).toString() + QChar(0) + qryPesqPareado.value(1).toString(),
                          qryPesqPareado.value(2).toString().trimmed());
    qryPesqPareado.close();
    if (remembered.isEmpty())
        return;

    // A row the operator left without destination on the grid stays so.
    QSet<QString> leftUnpaired;
    for (const auto &[origem, destino] : std::as_const(m_typed))
        if (EmptyString(destino))
            leftUnpaired.insert(origem);
    m_rememberedDest = QStringList(n, QString());
    for (int r = 0; r < n; ++r) {
        if (!EmptyString(cdsServico.textAt(r, ColDest)) || leftUnpaired.contains(cdsServico.textAt(r, ColOrig)))
            continue;
        const auto it = remembered.constFind(cdsServico.textAt(r, ColOrig) + QChar(0) + cdsServico.textAt(r, ColNmOrig));
        if (it == remembered.cend())
            continue;
        // The service must still be the branch's, and free: a row paired by name, by the operator
        // or from memory before this one keeps what it holds.
        const auto d = std::find_if(dests.begin(), dests.end(), [&](const Dest &x) { return x.code == *it; });
        if (d == dests.end())
            continue;
        if (cdsServDestino.isActive() && cdsServDestino.find(ColDestCodigo, d->code) >= 0)
            continue;
        cdsServico.moveTo(r);
        cdsServico.edit();
        cdsServico.setText(ColDest, d->code);
        cdsServico.setText(ColNmDest, d->name);
        m_rememberedDest[r] = d->code;
        cdsServico.post();
    }
}

bool ServiceMap::isRemembered(int row) const
{
    if (row < 0 || row >= m_rememberedDest.size() || m_rememberedDest.at(row).isEmpty())
        return false;
    return cdsServico.isActive() && row < cdsServico.rowCount()
           && cdsServico.textAt(row, ColDest) == m_rememberedDest.at(row);
}

QList<int> ServiceMap::rememberedRows() const
{
    QList<int> out;
    for (int r = 0; r < m_rememberedDest.size(); ++r) {
        if (isRemembered(r))
            out << r;
    }
    return out;
}

QString ServiceMap::PesqServico(QStringView cdServFiliOrig)
{
    if (!cdsServico.isActive())
        return {};
    const int n = cdsServico.rowCount();
    for (int r = 0; r < n; ++r) {
        if (!cdsServico.isNullAt(r, ColOrig) && cdsServico.textViewAt(r, ColOrig) == cdServFiliOrig) {
            if (cdsServico.currentRow() != r)
                cdsServico.moveTo(r);
            return cdsServico.textAt(r, ColDest);
        }
    }
    return {};
}

void ServiceMap::Vd_CdServDestino(bool posting)
{
    (void)posting; // the same checks whether posting or leaving the column
    try {
        if (EmptyString(cdsServico.text(ColDest)))
            return; // an unpaired row is accepted as it is
        if (cdsServico.state() == TableState::Browse)
            return;
        const QString code = Ajusta(cdsServico.text(ColDest), 5);
        cdsServico.setText(ColDest, code);

        // The rows in use first, then the destination database.
        if (cdsServDestino.isActive() && cdsServDestino.find(ColDestCodigo, code) >= 0)
            MensErroKey(QStringLiteral("Serv_Ja_Cad"));

        QString foundCode, foundName;
        bool found = false;
        qryPesqServicoAux.close();
        qryPesqServicoAux.setParam(QStringLiteral("P_CDFILIAL"), CdFilialDestino ? CdFilialDestino() : QString());
        qryPesqServicoAux.setParam(QStringLiteral("P_CDSERVFILI"), code);
        qryPesqServicoAux.openOrAbandon();
        found = !qryPesqServicoAux.eof();
        if (found) {
            foundCode = qryPesqServicoAux.value(0).toString();
            foundName = qryPesqServicoAux.value(1).toString();
        }
        if (!found)
            MensErroKey(QStringLiteral("Serv_Dest_Cad"));
        cdsServico.setText(ColDest, foundCode);
        cdsServico.setText(ColNmDest, foundName);
    } catch (const AbandonedAction &a) {
        throw a.onField(kFieldDestino);
    }
}

void ServiceMap::clear()
{
    if (cdsServico.isActive())
        cdsServico.emptyTable();
    if (cdsServDestino.isActive())
        cdsServDestino.emptyTable();
    m_released = false;
    CdServDestExcluido.clear();
    m_rememberedDest.clear();
}

void ServiceMap::addDestino(const QString &code, const QString &name)
{
    if (!cdsServDestino.isActive())
        cdsServDestino.createDataSet();
    cdsServDestino.insert();
    cdsServDestino.setText(ColDestCodigo, code);
    cdsServDestino.setText(ColDestNome, name);
    cdsServDestino.post();
}

bool ServiceMap::removeDestino(const QString &code)
{
    if (!cdsServDestino.isActive())
        return false;
    const int r = cdsServDestino.find(ColDestCodigo, code);
    if (r < 0)
        return false;
    cdsServDestino.moveTo(r);
    cdsServDestino.deleteRow();
    return true;
}

void ServiceMap::cdsServicoNewRecord(MemTable &t)
{
    // Only the build creates rows; the grid's own new row (arrow down on the last row) goes away.
    if (!carregando())
        t.cancel();
}

void ServiceMap::cdsServicoBeforeEdit(MemTable &t)
{
    // The row's destination is released while it is edited, so the row may take it again.
    m_released = false;
    const QString dest = t.text(ColDest);
    m_destBeforeEdit = dest;
    const QString name = t.text(ColNmDest);
    if (removeDestino(dest)) {
        m_released = true;
        m_releasedCode = dest;
        m_releasedName = name;
    }
}

void ServiceMap::cdsServicoBeforePost(MemTable &)
{
    if (!carregando())
        Vd_CdServDestino(true);
}

void ServiceMap::cdsServicoAfterPost(MemTable &t)
{
    m_released = false;
    const QString dest = t.text(ColDest);
    if (!EmptyString(dest))
        addDestino(dest, t.text(ColNmDest));
    // The operator's own change of a row (the build and a load pass post rows of their own).
    if (carregando() || dest == m_destBeforeEdit)
        return;
    const QString origem = t.text(ColOrig);
    m_destBeforeEdit = dest;
    rememberTyped(origem, EmptyString(dest) ? QString() : dest);
    if (pairedByOperator)
        pairedByOperator(origem, dest);
}

void ServiceMap::cdsServicoBeforeDelete(MemTable &t)
{
    CdServDestExcluido = t.text(ColDest);
    m_deletingRow = t.currentRow();
}

void ServiceMap::cdsServicoAfterDelete(MemTable &)
{
    m_released = false;
    removeDestino(CdServDestExcluido);
    // The rows after it move up one place; their marks go with them.
    if (m_deletingRow >= 0 && m_deletingRow < m_rememberedDest.size())
        m_rememberedDest.removeAt(m_deletingRow);
    m_deletingRow = -1;
}

void ServiceMap::cdsServicoBeforeCancel(MemTable &t)
{
    m_stateBeforeCancel = t.state();
}

void ServiceMap::cdsServicoAfterCancel(MemTable &)
{
    // A cancelled edit keeps the row's destination, so the entry its before-edit released is
    // entered again; otherwise the destination would be free for a second row to take.
    if (m_stateBeforeCancel == TableState::Edit && m_released)
        addDestino(m_releasedCode, m_releasedName);
    m_released = false;
}
