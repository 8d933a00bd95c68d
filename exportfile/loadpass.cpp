// The load pass (Grava_Tabelas): the file read twice, the empty tables from the server, the
// structure section, then each data line to its table.
#include "loadpass.h"
#include "loadpassparts.h"

#include "ambiente.h"
#include "appserver.h"
#include "database.h"
#include "dishcolumns.h"
#include "messages.h"

#include <QFileInfo>

#include <algorithm>
#include <cstring>

using namespace ExportText;

namespace {

// The file is not an export file: the load ends, the operator is sent back to the file's field.
[[noreturn]] void refuseFile()
{
    Failure f{Msg(QStringLiteral("Arquivo_Invalido")), QStringLiteral("Arquivo_Invalido"), {}};
    MensErro(f.onField(QStringLiteral("medNmArquivo")));
}

} // namespace

namespace {

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

// The screen's own dish columns; a dish packet without them gets them here.
void ensureDishColumns(MemTable &prato)
{
    QList<FieldDef> fields = prato.fields();
    bool changed = false;
    for (const FieldDef &f : DishColumns::screenOnly()) {
        if (prato.fieldIndex(f.name) < 0) {
            fields << f;
            changed = true;
        }
    }
    if (!changed)
        return;
    prato.close();
    prato.setFields(fields);
    prato.createDataSet();
}

} // namespace

LoadPass::LoadPass(ImportSession &session, DestinationLookups &lookups)
    : ErrosLinha(kNoErrors), s(session), d(std::make_unique<Impl>(session, *this, lookups))
{
}

LoadPass::~LoadPass() = default;

int LoadPass::inPosicao(QStringView text)
{
    return ExportText::inPosicao(text);
}

QString LoadPass::PesqServico(QStringView cdServFiliOrig)
{
    return s.serviceMap.PesqServico(cdServFiliOrig);
}

Status LoadPass::Grava_Tabelas()
{
    // Every way out of the pass becomes its value here, after its clean-up has run.
    try {
        runLoadPass();
    } catch (const AbandonedAction &a) {
        return a.failure();
    } catch (const std::exception &e) {
        return Failure::unexpected(QString::fromUtf8(e.what()));
    } catch (...) {
        return Failure{Msg(QStringLiteral("Erro_Inesperado")), QStringLiteral("Erro_Inesperado"), {}};
    }
    if (d->cleanupFailure)
        return *d->cleanupFailure;
    // The clean-up has cleared the status line; what the operator should know about the file
    // (values left empty, a cut last line, NULs) stays there.
    const QStringList warnings = s.loadWarnings();
    if (!warnings.isEmpty())
        d->observer.setStatusText(warnings.join(u' '));
    return okStatus();
}

bool LoadPass::cancelled(const Failure &failure)
{
    return failure.key == u"Carga_Cancelada";
}

void LoadPass::runLoadPass()
{
    LoadObserver &obs = d->observer;
    s.Carregando = true;
    // The flags tell the server which recipe tables the file being imported carries: a table the
    // file has is replaced whole for its dishes. Kept from an earlier file, they would make the
    // import of a file without recipe lines delete the dishes' recipes at the destination.
    s.TemRecePadr = false;
    s.TemReceFili = false;
    s.TemReceServ = false;
    // What the last pass found goes; this one's state starts with the object.
    d->last.lastDishRow = -1;
    d->last.stats = {};
    d->last.notes = {};
    d->last.controlCharLines.clear();
    d->last.unpairedServiceDishes.clear();
    d->last.dishLines.clear();
    d->last.loaded = ImportOrigin();
    d->last.ownStop.reset();

    Finally cleanup{[&] {
        // Runs to its end whatever failed; the failure itself goes on to the caller.
        s.Carregando = false;
        d->reader.close();
        d->currentPlan = nullptr;
        // A failure of the observer here comes back from the pass unless the pass failed already.
        try {
            obs.setProgress(0);
            obs.setStatusText(QString());
            obs.serveEvents();
        } catch (const AbandonedAction &a) {
            d->cleanupFailure = a.failure();
        } catch (const std::exception &e) {
            d->cleanupFailure = Failure::unexpected(QString::fromUtf8(e.what()));
        } catch (...) {
            d->cleanupFailure = Failure{Msg(QStringLiteral("Erro_Inesperado")), QStringLiteral("Erro_Inesperado"), {}};
        }
    }};

    // 2. The destination branch's services, for the pairing.
    d->lookups.services(s.serviceMap);

    readServiceSection();
    openEmptyTables();
    readStructureSection();
    readDataSection();
}

void LoadPass::readServiceSection()
{
    LoadObserver &obs = d->observer;
    // 3-4. First pass: the service lines and the line count. The destination's own files are
    // never opened here (the close would drop the process's locks on the database).
    if (const Status own = Database::refuseOwnFile(s.NmArquivo); !own)
        MensErro(own.failure().message, true, own.failure().key);
    if (!d->reader.open(s.NmArquivo))
        MensErro(d->reader.errorString());
    d->reader.setReadAhead(true);
    QByteArrayView line;
    d->reader.readRawLine(line);
    decodeInto(line, LinhaAtual);
    lsbServico.clear();
    TotalLinhas = 0;
    static constexpr char kServico[] = "SERVICO\xF8";
    while (d->reader.readLine(line)) {
        if (line.size() >= 8 && std::memcmp(line.data(), kServico, 8) == 0)
            lsbServico << decode(line);
        else
            countTableLine(line, d->linesPerTable);
        if ((++TotalLinhas & 4095) == 0)
            d->stopIfRequested();
    }
    if (d->reader.failed())
        MensErro(d->reader.errorString());
    TotalLinhas -= 12;
    d->reader.close();

    // 5. The service map.
    if (s.serviceMap.build(lsbServico) > 0)
        obs.showServiceTab();
}

void LoadPass::openEmptyTables()
{
    // 6. The empty tables, their columns from the server.
    {
        ServerCall call(d->observer, 6);
        loadPacket(s.cdsPrato, Rdm::GetPrato(d->last.net));
        ensureDishColumns(s.cdsPrato);
        loadPacket(s.cdsRecePadr, Rdm::GetRecePadr(d->last.net));
        loadPacket(s.cdsReceServ, Rdm::GetReceServ(d->last.net));
        loadPacket(s.cdsReceFili, Rdm::GetReceFili(d->last.net));
        loadPacket(s.cdsPratPadr, Rdm::GetPratPadr(d->last.net));
        loadPacket(s.cdsPratFili, Rdm::GetPratFili(d->last.net));
        loadPacket(s.cdsPratServ, Rdm::GetPratServ(d->last.net));
    }
    // Room for the rows the first pass counted, taken once instead of growing a table of a
    // million rows step by step (each step holding the old storage and the new at once).
    for (size_t i = 0; i < std::size(kTables); ++i) {
        reserveRows(s.*(kTables[i].table), d->linesPerTable[i]);
        if (i == 0)
            d->last.dishLines.reserve(size_t(std::max(0, d->linesPerTable[i])));
        if (std::size(kKeyColumns[i]) > 0) {
            d->flagOwner[i].reserve(size_t(std::max(0, d->linesPerTable[i])));
            d->keyHashes[i].reserve(size_t(std::max(0, d->linesPerTable[i])));
        }
    }
}

void LoadPass::readStructureSection()
{
    LoadObserver &obs = d->observer;
    QByteArrayView line;
    // 7-8. Second pass.
    if (!d->reader.open(s.NmArquivo))
        MensErro(d->reader.errorString());
    d->fileHash.restart();
    d->reader.hashInto(&d->fileHash);
    d->reader.setReadAhead(true);
    obs.setProgressRange(TotalLinhas);
    obs.setProgress(0);
    obs.setStatusText(Msg(QStringLiteral("VERIFICANDO_PRATOS")));
    obs.serveEvents();
    d->stopIfRequested();

    // 9. The structure section, up to and including the data marker.
    lsbEstrutura.clear();
    int counter = 0;
    bool markerSeen = false;
    while (!markerSeen && d->reader.readLine(line)) {
        decodeInto(line, LinhaAtual);
        lsbEstrutura << LinhaAtual;
        if (counter > kMaxStructureLines - 1) {
            refuseFile();
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
            refuseFile();
        }
    }
}

void LoadPass::readDataSection()
{
    LoadObserver &obs = d->observer;
    QByteArrayView line;
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
        Grava_Prato(leadingField(LinhaAtual));
        ++d->last.stats.dataLines;
        obs.setProgress(++position);
        // Window messages are let through several times a second, not per line: a repaint per
        // line would cost more than the line itself.
        if ((position & 63) == 0) {
            if (d->sinceServe.elapsed() >= 50) {
                obs.serveEvents();
                d->sinceServe.restart();
            }
            d->stopIfRequested();
        }
    }
    if (d->reader.failed())
        MensErro(d->reader.errorString());
    // The history records the bytes that became the rows, not the file as it is on disk when the
    // import starts: the two differ when the file was changed after the load.
    d->last.loaded.fileName = QFileInfo(s.NmArquivo).fileName().left(255);
    d->last.loaded.bytes = d->fileHash.bytes();
    d->last.loaded.sha256 = d->fileHash.finish();
    // A file cut in the middle of its last line still loads what it has; the operator is told.
    if (lastLineCut)
        d->last.notes.cutLastLine = d->lineNumber;
    d->lineNumber = 0;
    d->lineHasNul = false;
    d->flagRepeatedKeys();
}


void LoadPass::Grava_Prato(QStringView tabela)
{
    const TableEntry *entry = nullptr;
    for (const TableEntry &e : kTables) {
        if (sameText(tabela, e.name)) {
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
        refuseFile();
    }
    MemTable &table = s.*(entry->table);

    Plan &plan = d->plans[size_t(idx)];
    if (!d->planReady[size_t(idx)] || plan.table != &table) {
        plan = Plan{};
        plan.source = lsbEstrutura.at(idx);
        plan.table = &table;
        d->planReady[size_t(idx)] = true;
        // Built below by GetValues from LinhaEstrutura; marked so GetValues keeps it.
    }
    // The plan goes to GetValues as it is: LinhaEstrutura is not set to its structure line first,
    // only to what is left of it after the line.
    d->currentPlan = &plan;
    d->planOfLine = true;
    GetValues(table);
    d->planOfLine = false;
    d->currentPlan = nullptr;

    if (&table == &s.cdsPrato) {
        d->last.lastDishRow = s.cdsPrato.currentRow();
        if (d->last.lastDishRow >= 0) {
            if (size_t(d->last.lastDishRow) >= d->last.dishLines.size())
                d->last.dishLines.resize(size_t(d->last.lastDishRow) + 1, 0);
            d->last.dishLines[size_t(d->last.lastDishRow)] = d->lineNumber;
        }
        // A raised flag is a '1' in IDERRO, read as the table keeps it.
        if (plan.iderroCol >= 0 && d->last.lastDishRow >= 0) {
            const QAnyStringView flags = s.cdsPrato.textAnyViewAt(d->last.lastDishRow, plan.iderroCol);
            const bool raised = withUnits(flags, [](const auto *p, qsizetype n) {
                return std::find(p, p + n, u'1') != p + n;
            });
            if (raised)
                d->observer.dishFlagged();
        }
    } else if (&table == &s.cdsRecePadr) {
        s.TemRecePadr = true;
    } else if (&table == &s.cdsReceFili) {
        s.TemReceFili = true;
    } else if (&table == &s.cdsReceServ) {
        s.TemReceServ = true;
    }
}
