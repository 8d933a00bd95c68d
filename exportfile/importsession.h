#pragma once
// One import: the source file and destination branch, the tables the load pass fills, the service
// map, the flags and what the last pass found. The screen owns one session and binds its grids to the
// session's tables (MemTableModel); the command line drives the same session without a screen.
#include "checks.h"
#include "importorigin.h"
#include "memtable.h"
#include "query.h"
#include "servicemap.h"
#include "stoprequest.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QDateTime>
#include <memory>
#include <optional>

class NetConnection;
class LoadPass;
class DestinationLookups;

// What the session tells whatever shows it: how far the pass is, what it is doing, that it waits
// on the application server, and what the operator should know. It reports; what is shown, what is
// enabled and where the focus goes is the caller's to decide. Every call has an empty default.
class LoadObserver {
public:
    virtual ~LoadObserver();
    // Progress bar: maximum (LoadPass::TotalLinhas, negative for a file of fewer than 13 lines) and position.
    virtual void setProgressRange(int maximum) { (void)maximum; }
    // Called after every data line with the new position; must be cheap (store it, no painting).
    virtual void setProgress(int position) { (void)position; }
    // Status text of the progress panel; empty clears it.
    virtual void setStatusText(const QString &text) { (void)text; }
    // Repaint and let pending window messages through. The pass calls it after the status text,
    // at the end, and during the data loop often enough to stay responsive (several times a
    // second), not after every line: the pass must not slow down with the screen that shows it.
    virtual void serveEvents() {}
    // A call to the application server starts and ends: the screen shows its busy indicator
    // (`animation` is the one to show) in between. The calls pair up, on every way out.
    virtual void serverCallStarted(int animation) { (void)animation; }
    virtual void serverCallEnded() {}
    // A dish row was stored with an error flag (during the pass, or by the checks at its end).
    virtual void dishFlagged() {}
    // The service map has rows: the tab "Serviço" can be shown (the active tab does not change).
    virtual void showServiceTab() {}
    // Something the operator should know that does not stop the action (a directory that cannot
    // be remembered); each is told once a session.
    virtual void showNotice(const QString &text) { (void)text; }
};

// A call to the application server, told to the observer on its way in and on every way out.
class ServerCall {
public:
    ServerCall(LoadObserver &observer, int animation) : m_observer(observer)
    {
        m_observer.serverCallStarted(animation);
    }
    ~ServerCall() { m_observer.serverCallEnded(); }
    ServerCall(const ServerCall &) = delete;
    ServerCall &operator=(const ServerCall &) = delete;

private:
    LoadObserver &m_observer;
};

// Gives what the process has freed back to the system: after large tables or packets are gone,
// so that they are not counted again under what comes next.
void returnFreedMemory();

// What a load pass found that is no error flag of a dish: values that did not convert (the column
// stays null), key values longer than their column (kept cut, as the destination will hold them),
// numbers with more decimals than their column (rounded at its scale), a last line cut before its
// terminator, the lines holding a NUL.
struct LoadNotes {
    struct Unparsed {
        QString table;      // the table the rows went to (PRATO, RECEPADR, ...)
        QString column;
        int count = 0;
        QList<int> lines;   // the first kMaxLines lines, in file order
    };
    static constexpr int kMaxLines = 3;
    QList<Unparsed> unparsed;  // in the order first met
    QList<Unparsed> cut;       // key values cut to their column's width, per column
    QList<Unparsed> rounded;   // numbers rounded at their column's scale, per column
    int cutLastLine = 0;       // line number of a last line without its terminator; 0: none
    QList<int> nulLines;       // lines with a NUL in a stored value (each flagged on its dish)
    bool isEmpty() const
    {
        return unparsed.isEmpty() && cut.isEmpty() && rounded.isEmpty() && cutLastLine == 0 && nulLines.isEmpty();
    }
};

// What one load holds: the tables of the file, the service map with the destination services in
// use, and the flags of what the file had. The screen binds its grids to these; the load pass
// fills them and the import sends them.
class ImportDocument {
public:
    ImportDocument();
    ImportDocument(const ImportDocument &) = delete;
    ImportDocument &operator=(const ImportDocument &) = delete;

    // The dish and recipe tables, their columns from the server's packets.
    MemTable cdsPrato{QStringLiteral("PRATO")};
    MemTable cdsRecePadr{QStringLiteral("RECEPADR")};
    MemTable cdsPratPadr{QStringLiteral("PRATPADR")};
    MemTable cdsReceFili{QStringLiteral("RECEFILI")};
    MemTable cdsPratFili{QStringLiteral("PRATFILI")};
    MemTable cdsReceServ{QStringLiteral("RECESERV")};
    MemTable cdsPratServ{QStringLiteral("PRATSERV")};
    MemTable cdsPesqPrato{QStringLiteral("PESQPRATO")};
    MemTable cdsDiretorios{QStringLiteral("DIRETORIOS")};
    MemTable cdsParamGeral{QStringLiteral("PARAMGERAL")};

    // The service map and the destination services in use (references into serviceMap).
    ServiceMap serviceMap;
    MemTable &cdsServico;
    MemTable &cdsServDestino;

    // What the file of the last load pass had: each pass starts them false.
    bool TemRecePadr = false;
    bool TemReceFili = false;
    bool TemReceServ = false;

    // Entering the parameter panel: the seven tables closed, the map and its destinations emptied,
    // the recipe packets kept by an import dropped.
    void closeLoadedTables();

    // The packets of the recipe tables (RECEPADR, RECEFILI, RECESERV, PRATPADR, PRATFILI) as an
    // import made them from the tables it then closed (ImportSession::KeepRecipePackets): another
    // import of the same load sends them again.
    QByteArray keptRecipePackets[5];

    // The seven tables with their file names (PRATO, RECEPADR, PRATPADR, RECEFILI, PRATFILI,
    // RECESERV, PRATSERV), in that order.
    QList<QPair<QString, MemTable *>> dataTables();
};

class ImportSession : public ImportDocument {
public:
    explicit ImportSession(NetConnection &net);
    ~ImportSession();
    ImportSession(const ImportSession &) = delete;
    ImportSession &operator=(const ImportSession &) = delete;

    // Inputs: the screen binds them to medNmArquivo and medCdFilial, the command line sets them.
    QString NmArquivo;
    QString CdFilial;

    void setObserver(LoadObserver *observer); // not owned; nullptr: nothing is shown
    LoadObserver &observer();
    NetConnection &net();
    // What a load pass asks the destination: the connection's (destinationlookups.h).
    DestinationLookups &lookups();

    // The branches the operator may use (P_CDFILIAL, P_TCDFILIAL, P_CDOPERADOR).
    ReadOnlyQuery qryFilial;

    // Vd_Arquivo remembers the accepted file's directory on the server; a dry run turns it off.
    bool RememberDirectory = true;
    // Set by `imp40500 import` when nothing reads the recipe tables after the import: each is
    // closed once its packet is made, so that the tables and the packets are not held side by side.
    bool ReleaseRecipesOnImport = false;
    // Set by the screen, whose grids show none of the recipe tables but which may send the same
    // load again (after a refusal, or a pairing made since): the recipe tables go as for
    // ReleaseRecipesOnImport, their packets are kept instead (keptRecipePackets), which take
    // less memory than the tables and spare the next import making them again.
    bool KeepRecipePackets = false;

    // Flags.
    bool Carregando = false;

    // The checks of the parameter panel; a refusal abandons the action naming its field
    // ("medNmArquivo", "medCdFilial"). Vd_Arquivo also remembers the directory (cdsDiretorios,
    // SetDiretorios) on success.
    // Vd_CdFilial sets CdFilial to the adjusted code in every case and returns the branch's name.
    void Vd_Arquivo(bool required);
    QString Vd_CdFilial(bool required, const QString &operador);
    // The remembered directory from the server (first activation); empty when there is none. A failure of the server or of its packet comes back as the value.
    Result<QString> loadDiretorios();
    QString rememberedDirectory() const;

    // The load pass over NmArquivo for CdFilial: one LoadPass (loadpass.h), made for the run. Its
    // failure comes back as the value, after its clean-up (LoadPass::Grava_Tabelas).
    Status Grava_Tabelas();
    void Vd_CdServDestino(bool posting) { serviceMap.Vd_CdServDestino(posting); }

    // The eight packets, the three flags and the branch, sent to Importacao in the server's order
    // (PRATO, RECEPADR, RECEFILI, SERVDESTINO, RECESERV, PRATPADR, PRATFILI, SERVICO).
    Result<QByteArray> callImportacao();

    // The import history (importhistorycheck.cpp). The file's origin as the history keeps it: the
    // operator, the file's name, size and SHA-256 (only the name when the file cannot be read).
    ImportOrigin fileOrigin() const;
    // The newest successful import of the same file (by its SHA-256) into CdFilial, read from the
    // destination's history; none when there is none or the history cannot be read (an import
    // is never refused for it).
    struct PreviousImport {
        QDateTime when; // UTC
        QString operatorCode;
    };
    std::optional<PreviousImport> previousImport(const ImportOrigin &origin) const;


    // The dish row that recipe lines give their flags to; -1 before the first dish line of a pass.
    int lastDishRow() const;

    // What the last pass found besides the dishes' flags, and the same as sentences for the
    // operator (empty when there is nothing to say).
    const LoadNotes &loadNotes() const;
    QStringList loadWarnings() const;
    // The first line with a NUL that flagged this dish row (position 6); 0 when none.
    int controlCharLine(int dishRow) const;
    // The dish rows of the last pass that a line naming this origin service flagged because the
    // service had no destination then (position 3); a pairing made later leaves them flagged.
    int dishesFlaggedForService(const QString &cdServFiliOrig) const;
    // The file's line of a dish row of the last pass (the first line of the file is 1); 0 when the
    // row was not loaded from a dish line.
    int dishLine(int dishRow) const;

    // What stops the load pass at its next safe point (the window messages it lets through, and
    // every 64 data lines): the pass then ends as a failed load, abandoned with "Carga_Cancelada"
    // and no message of its own. The session's own request (reset at the start of every pass)
    // unless another is set; the command line sets the process's, which its signals make.
    StopRequest &stopRequest();
    void setStopRequest(StopRequest *request); // nullptr: the session's own

    // Counters of the last pass, for reports and tests.
    struct Stats {
        int dataLines = 0;
        int serverPesqPrato = 0;   // GetPesqPrato calls made
        int pesqPratoLoads = 0;    // replies loaded into cdsPesqPrato (an identical one is not)
        int unitQueries = 0;       // qryPesqUnidMed executions
        int productQueries = 0;    // qryPesqProduto executions
    };
    const Stats &stats() const;

    struct Impl; // loadpassparts.h

private:
    friend class LoadPass;
    void installDiretoriosEvents();
    std::unique_ptr<Impl> d;
};
