#pragma once
// One run of the load pass (Grava_Tabelas) over the session's file: made for the run and thrown
// away after it. It owns the state of the line being read and everything worked out for this file
// only (how each structure line decodes, the answers of the destination, the owners of the rows'
// flags); what outlives the run (the tables, the notes, the dish lines, the counters) it leaves in
// the session.
#include "result.h"

#include <QString>
#include <QStringList>
#include <memory>

class DestinationLookups;
class ImportSession;
class MemTable;

class LoadPass {
public:
    // What the pass asks the destination goes to `lookups` (the session's own: session.lookups()),
    // each code once per pass.
    LoadPass(ImportSession &session, DestinationLookups &lookups);
    ~LoadPass();
    LoadPass(const LoadPass &) = delete;
    LoadPass &operator=(const LoadPass &) = delete;

    // The pass over NmArquivo for CdFilial; once per object. Its failure comes back as the value
    // ("Arquivo_Invalido", a server failure, the file system's message; "Carga_Cancelada" when
    // stopped, which is not shown), after its clean-up has run; nothing is shown here.
    Status Grava_Tabelas();
    // A failure that is a stopped pass: the caller tells no message for it.
    static bool cancelled(const Failure &failure);
    // One data line in LinhaAtual, whose first field is `tabela` (it may be a view into LinhaAtual).
    void Grava_Prato(QStringView tabela);
    // Decodes LinhaAtual against LinhaEstrutura into one new row of `table` and posts it.
    void GetValues(MemTable &table);
    static int inPosicao(QStringView s);

    // The destination's unit and product of a code (empty when it has none), asked once per pass.
    QString PesqUnidMedida(const QString &sgUnidade);
    QString PesqProduto(const QString &cdProduto);
    // The destination service an origin service is mapped to; empty when none.
    QString PesqServico(QStringView cdServFiliOrig);

    // The line being read and the structure line it decodes against (what is left of both).
    QString LinhaAtual;
    QString LinhaEstrutura;
    QString NomeTabela;       // the table of the last decoded line
    QString ErrosLinha;       // the error flags of the line (IDERRO)
    QString NomePratoDestino; // the destination's name of a local dish whose code it already uses
    int TotalLinhas = 0;      // the file's lines less the twelve ahead of the structure
    QStringList lsbServico;   // the file's service lines
    QStringList lsbEstrutura; // the structure section, the data marker included

    struct Impl;

private:
    void runLoadPass(); // Grava_Tabelas without what it leaves on the status line
    // Its steps: the service lines and the line count (first reading), the empty tables from the
    // server, the structure section (second reading), the data lines.
    void readServiceSection();
    void openEmptyTables();
    void readStructureSection();
    void readDataSection();

    ImportSession &s;
    std::unique_ptr<Impl> d;
};
