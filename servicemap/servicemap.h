#pragma once
// The service map: pairs every service named in an export file (origin) with a service of the
// destination branch, and keeps the list of destination services that the map's rows hold.
// No widgets here; the grid of the tab "Serviço" is a view over `cdsServico`.
#include "memtable.h"
#include "query.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class ServiceMap {
public:
    ServiceMap();
    ~ServiceMap();
    ServiceMap(const ServiceMap &) = delete;
    ServiceMap &operator=(const ServiceMap &) = delete;

    // The map: CDSERVFILIORIG, CDSERVFILIDEST (5), NMSERVICOORIG, NMSERVICODEST (40), in this order.
    // Inactive until the build creates it for its first row. Its row events are installed by the
    // constructor (new record, before/after edit, before/after post, before/after cancel,
    // before/after delete); `events.afterScroll` and the state (dtsServico) are left to the screen.
    MemTable cdsServico;
    // Destination services in use: CDSERVFILI (5), NMSERVICO (40). Inactive until its first entry.
    MemTable cdsServDestino;

    // SERVICO rows of the destination branch by code; P_CDFILIAL. Also the list behind the lookup.
    ReadOnlyQuery qryPesqServico;
    // One SERVICO row of the destination branch; P_CDFILIAL, P_CDSERVFILI.
    ReadOnlyQuery qryPesqServicoAux;

    // The pairings remembered for the destination branch by its last successful imports
    // (SERVPARE: origin code and name -> destination code); P_CDFILIAL.
    ReadOnlyQuery qryPesqPareado;

    // Destination code of the row being deleted, kept from before-delete to after-delete.
    QString CdServDestExcluido;

    // Pairs given outside the grid (the command line's --pair ORIGEM=DESTINO), applied by build()
    // after the pairing by name, each checked as the grid checks a typed code.
    QList<QPair<QString, QString>> paresInformados;

    // The pairings the operator made on the grid: origin code and the destination code as stored
    // (empty for a row he left without destination), the latest per origin, in the order made.
    // clear() keeps them. build() applies them to the next loads after paresInformados and before
    // the remembered pairings, as long as the destination branch stays the one they were made for;
    // one the file or the branch no longer allows is skipped, never a failure of the load, and a
    // row he left without destination takes none from memory.
    const QList<QPair<QString, QString>> &paresDigitados() const { return m_typed; }
    void forgetTypedPairs();
    // Called once the operator's pairing is posted (origin code, destination code): what the load
    // flagged for that service stays flagged until the next load.
    std::function<void(const QString &origem, const QString &destino)> pairedByOperator;

    // The destination branch code (the text of medCdFilial), asked whenever a query needs it.
    std::function<QString()> CdFilialDestino;
    // The field a refused destination is about (AbandonedAction::field): the grid puts its cursor
    // on the destination cell of the current row.
    static inline const QString kFieldDestino = QStringLiteral("cdsServicoCDSERVFILIDEST");

    // The owner's load-in-progress flag (`Carregando`); while it is true the new-row cancel and the
    // before-post validation are off. Not owned; nullptr reads as false.
    void setLoadingFlag(const bool *carregando);
    bool carregando() const;

    // Step 1 of the build: reopens qryPesqServico for the destination branch.
    void prepareDestinationServices();
    // Step 2: builds the map from the service lines the first pass collected (whole lines, as in
    // the file). Position 0 is the structure line of SERVICO and is skipped. Returns the number of
    // rows built; the caller shows the tab "Serviço" when it is above 0.
    // After the pairing by name, the pairs of paresInformados are applied (a refused one fails
    // through MensErro: "Serv_Orig_Deve", "Serv_Dest_Deve", "Serv_Nao_Cad", "Serv_Ja_Cad",
    // "Serv_Dest_Cad"), then those of paresDigitados, then every row still unpaired takes its
    // remembered destination when the branch still has that service and no other row holds it.
    int build(const QStringList &lsbServico);

    // Whether the row holds the destination remembered for it by the build (an edit to another
    // destination ends that).
    bool isRemembered(int row) const;
    // Rows that hold their remembered destination, in map order.
    QList<int> rememberedRows() const;

    // The destination code paired with an origin code (exact, case-sensitive); empty when the map
    // has no such row, is empty, or the row is unpaired. A match becomes the map's current row.
    QString PesqServico(QStringView cdServFiliOrig);

    // Validates and completes the destination of the current row; posting: true from before-post,
    // false from leaving the destination column. Fails through MensErro ("Serv_Ja_Cad",
    // "Serv_Dest_Cad", or the database's failure), naming kFieldDestino.
    void Vd_CdServDestino(bool posting);

    // Entering the parameter panel: both tables emptied (when they exist), without row events.
    void clear();

    // Row events, public so the screen or a test can call them as the table does.
    void cdsServicoNewRecord(MemTable &t);
    void cdsServicoBeforeEdit(MemTable &t);
    void cdsServicoBeforePost(MemTable &t);
    void cdsServicoAfterPost(MemTable &t);
    void cdsServicoBeforeDelete(MemTable &t);
    void cdsServicoAfterDelete(MemTable &t);
    void cdsServicoBeforeCancel(MemTable &t);
    void cdsServicoAfterCancel(MemTable &t);

    // Column indexes of cdsServico and cdsServDestino.
    enum ServicoCol { ColOrig = 0, ColDest = 1, ColNmOrig = 2, ColNmDest = 3 };
    enum DestinoCol { ColDestCodigo = 0, ColDestNome = 1 };

    static QList<FieldDef> servicoFields();
    static QList<FieldDef> servDestinoFields();

    // Upper-cases the letters a to z only; accented letters stay as they are.
    static QString upperAscii(QStringView s);

private:
    struct Dest {
        QString code, name, upperName;
    };
    void applyGivenPair(const QString &origem, const QString &destino);
    void applyTypedPairs(const std::vector<Dest> &dests);
    void setRowDestination(int row, const QString &code, const QString &name);
    void rememberTyped(const QString &origem, const QString &destino);
    void applyRemembered(const std::vector<Dest> &dests);
    void addDestino(const QString &code, const QString &name);
    bool removeDestino(const QString &code);

    const bool *m_carregando = nullptr;
    bool m_building = false;
    // What before-edit released, so that a cancelled edit can give it back.
    bool m_released = false;
    QString m_releasedCode, m_releasedName;
    // The destination the row had when its edit began: a post that changes it is a pairing made
    // by the operator.
    QString m_destBeforeEdit;
    QList<QPair<QString, QString>> m_typed;
    QString m_typedBranch; // the destination branch m_typed was made for
    TableState m_stateBeforeCancel = TableState::Browse;
    // Per row of the map, the destination the build gave it from memory; empty for the others.
    QStringList m_rememberedDest;
    int m_deletingRow = -1;
};
