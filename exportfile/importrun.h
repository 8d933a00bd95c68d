#pragma once
// The import: everything the load pass put into the session's tables goes to the application
// server in one call of Importacao, and the client's cache of PRATO is refreshed. The screen's
// import button and `imp40500 import` run this same sequence. It tells no one: the status line
// hears through the session's LoadObserver, and the failure or the server's summary is returned
// for the caller to tell.
#include "appserver.h"
#include "result.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class ImportSession;

// What the server answered to an import that went through.
struct ImportOutcome {
    bool hasSummary = false; // false: the answer held no readable summary
    ImportSummary summary;
    // The client's cache of PRATO could not be refreshed after the import went through: the
    // import stands, the operator is told this beside it.
    std::optional<Failure> cacheFailure;

    // "A importação foi realizada com sucesso." and, on a second line, the dishes written and those
    // not written because they carry errors, these named through the dish-code picture (the first
    // ten, then how many more); without a readable summary only the first line.
    QString successText(const QString &dishPicture) const;
    // The summary as the command line prints it, refused codes as above; empty without one.
    QString summaryText(const QString &dishPicture) const;
    static ImportOutcome fromPayload(const QByteArray &payload);
};

class ImportRun {
public:
    using RefreshCache = std::function<Status(const QStringList &tables)>;
    // `refreshCache` by default Ambiente::AtualizaLocalCache.
    explicit ImportRun(ImportSession &session, RefreshCache refreshCache = {});

    // Sends the tables with the session's branch, the status line saying so and the observer told
    // of the server call, then refreshes the cache of PRATO. A refusal of the server comes back as
    // the failure (the driver's words as its detail); a cache that cannot be refreshed after the
    // import went through comes back in the outcome.
    Result<ImportOutcome> run();

private:
    Failure withDishLine(Failure f) const;

    ImportSession &m_session;
    RefreshCache m_refreshCache;
};
