#include "importsession.h"
#include "loadpassparts.h"

#include "appserver.h"
#include "datapacket.h"
#include "dishtable.h"
#include "framework.h"
#include "messages.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

LoadObserver::~LoadObserver() = default;


ImportDocument::ImportDocument()
    : cdsServico(serviceMap.cdsServico), cdsServDestino(serviceMap.cdsServDestino)
{
}

ImportSession::ImportSession(NetConnection &net)
    : qryFilial(ImportChecks::qryFilialSql()),
      d(std::make_unique<Impl>(net))
{
    serviceMap.setLoadingFlag(&Carregando);
    serviceMap.CdFilialDestino = [this] { return CdFilial; };

    // A new dish starts without errors.
    cdsPrato.events.afterInsert = &DishTable::cdsPratoAfterInsert;
    installDiretoriosEvents();
}

// cdsDiretoriosBeforePost (CDPROGRAMA := "IMP40500") and cdsDiretoriosAfterPost (SetDiretorios
// with the delta; merge on success, cancel the unsent change on failure and fail the post,
// without showing anything: whoever remembers the directory tells the operator, once).
void ImportSession::installDiretoriosEvents()
{
    cdsDiretorios.events.beforePost = [](MemTable &t) {
        t.setText(t.fieldIndexOrThrow(u"CDPROGRAMA"), QString::fromLatin1(ImportChecks::kProgramCode));
    };
    cdsDiretorios.events.afterPost = [this](MemTable &t) {
        if (t.changeCount() == 0)
            return;
        try {
            ServerCall call(*d->observer, 1);
            CheckResultServ(Rdm::SetDiretorios(d->net, DataPacket::saveDelta(t)), false, 0);
        } catch (...) {
            // The row goes back to what the server last gave, and the post fails with the call.
            t.cancelUpdates();
            throw;
        }
        if (t.logChanges())
            t.mergeChangeLog();
    };
}

ImportSession::~ImportSession() = default;

Status ImportSession::Grava_Tabelas()
{
    LoadPass pass(*this, d->lookups);
    return pass.Grava_Tabelas();
}

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

DestinationLookups &ImportSession::lookups()
{
    return d->lookups;
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

int ImportSession::dishesFlaggedForService(const QString &cdServFiliOrig) const
{
    const int row = cdsServico.isActive() ? cdsServico.find(ServiceMap::ColOrig, cdServFiliOrig) : -1;
    if (row < 0 || size_t(row) >= d->unpairedServiceDishes.size())
        return 0;
    // A dish's lines follow it, so each dish is there once; a later repeat is counted once all the same.
    std::vector<int> dishes = d->unpairedServiceDishes[size_t(row)];
    std::sort(dishes.begin(), dishes.end());
    return int(std::unique(dishes.begin(), dishes.end()) - dishes.begin());
}

int ImportSession::dishLine(int dishRow) const
{
    return dishRow >= 0 && size_t(dishRow) < d->dishLines.size() ? d->dishLines[size_t(dishRow)] : 0;
}

StopRequest &ImportSession::stopRequest()
{
    return *d->stop;
}

void ImportSession::setStopRequest(StopRequest *request)
{
    d->stop = request ? request : &d->ownStop;
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
    const auto perColumn = [&](const char *key, const QList<LoadNotes::Unparsed> &notes) {
        for (const LoadNotes::Unparsed &u : notes)
            out << Msg(QString::fromLatin1(key)).arg(u.table + u'.' + u.column, QString::number(u.count), lineList(u.lines));
    };
    perColumn("Valor_N_Reconhecido", d->notes.unparsed);
    perColumn("Codigo_Cortado", d->notes.cut);
    perColumn("Valor_Arredondado", d->notes.rounded);
    if (!d->notes.nulLines.isEmpty()) {
        QList<int> first = d->notes.nulLines.mid(0, LoadNotes::kMaxLines);
        out << Msg(QStringLiteral("Caractere_Nulo"))
                   .arg(QString::number(d->notes.nulLines.size()), lineList(first));
    }
    if (d->notes.cutLastLine > 0)
        out << Msg(QStringLiteral("Linha_Incompleta")).arg(d->notes.cutLastLine);
    return out;
}

QList<QPair<QString, MemTable *>> ImportDocument::dataTables()
{
    return {{QStringLiteral("PRATO"), &cdsPrato},         {QStringLiteral("RECEPADR"), &cdsRecePadr},
            {QStringLiteral("PRATPADR"), &cdsPratPadr},   {QStringLiteral("RECEFILI"), &cdsReceFili},
            {QStringLiteral("PRATFILI"), &cdsPratFili},   {QStringLiteral("RECESERV"), &cdsReceServ},
            {QStringLiteral("PRATSERV"), &cdsPratServ}};
}

// ---- The checks of the parameter panel ---------------------------------------------------------

void ImportSession::Vd_Arquivo(bool required)
{
    std::optional<ImportChecks::FileCheck> checked;
    try {
        checked = ImportChecks::Vd_Arquivo(NmArquivo, required, d->net, cdsParamGeral);
    } catch (const AbandonedAction &a) {
        throw a.onField(QStringLiteral("medNmArquivo"));
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
    } catch (const AbandonedAction &a) {
        throw a.onField(QStringLiteral("medCdFilial"));
    }
}

Result<QString> ImportSession::loadDiretorios()
{
    const Result<QByteArray> payload = [this] {
        ServerCall call(*d->observer, 6);
        return Rdm::GetDiretorios(d->net);
    }();
    if (!payload)
        return payload.failure();
    const Status st = DataPacket::load(cdsDiretorios, payload.value());
    if (!st)
        return st.failure();
    return rememberedDirectory();
}

QString ImportSession::rememberedDirectory() const
{
    if (!cdsDiretorios.isActive() || cdsDiretorios.rowCount() == 0)
        return {};
    const int c = cdsDiretorios.fieldIndex(u"DSDIRETORIO");
    return c < 0 ? QString() : cdsDiretorios.text(c);
}

void ImportDocument::closeLoadedTables()
{
    for (const auto &t : dataTables())
        t.second->close();
    for (QByteArray &p : keptRecipePackets)
        p = QByteArray();
    serviceMap.clear();
}

// ---- Import ------------------------------------------------------------------------------------

void returnFreedMemory()
{
#ifdef __GLIBC__
    // The C library keeps freed memory for the process; tables of a large file, freed in the
    // middle of its heap, would otherwise stay counted against the import that follows.
    malloc_trim(0);
#endif
}

Result<QByteArray> ImportSession::callImportacao()
{
    auto packet = [](MemTable &t) { return t.isActive() ? DataPacket::save(t) : QByteArray(); };
    // One packet after another; with ReleaseRecipesOnImport or KeepRecipePackets a recipe table goes
    // once its packet is made, and with KeepRecipePackets the packet stays in its place.
    const auto recipe = [&](MemTable &t, int kept) {
        QByteArray &keep = keptRecipePackets[kept];
        if (!t.isActive() && !keep.isNull())
            return keep;
        QByteArray p = packet(t);
        if (ReleaseRecipesOnImport || KeepRecipePackets)
            t.close();
        if (KeepRecipePackets)
            keep = p;
        return p;
    };
    const QByteArray prato = packet(cdsPrato), recePadr = recipe(cdsRecePadr, 0), receFili = recipe(cdsReceFili, 1),
                     servDestino = packet(cdsServDestino), receServ = recipe(cdsReceServ, 2),
                     pratPadr = recipe(cdsPratPadr, 3), pratFili = recipe(cdsPratFili, 4), servico = packet(cdsServico);
    // What the closed tables held goes back to the system before the server's work begins.
    if (ReleaseRecipesOnImport || KeepRecipePackets)
        returnFreedMemory();
    // The file's name, size and hash go beside the call, for the destination's import history.
    const ImportOrigin::Scope origin(fileOrigin());
    return Rdm::Importacao(d->net, prato, recePadr, receFili, servDestino, receServ, pratPadr, pratFili, servico,
                           TemRecePadr, TemReceFili, TemReceServ, CdFilial);
}
