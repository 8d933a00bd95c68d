// The session's side of the import history: what the client tells the server about the file, and
// whether the same file was already imported into the branch.
#include "importsession.h"
#include "loadpassparts.h"
#include "ambiente.h"
#include "database.h"
#include "importhistory.h"

#include <QFileInfo>

ImportOrigin ImportSession::fileOrigin() const
{
    // What the last load read: the import sends those rows, whatever the file holds by now.
    ImportOrigin o = d->loaded;
    o.operatorCode = Ambiente::instance().Operador.trimmed().left(10);
    if (o.sha256.isEmpty())
        o.fileName = QFileInfo(NmArquivo).fileName().left(255);
    return o;
}

std::optional<ImportSession::PreviousImport> ImportSession::previousImport(const ImportOrigin &origin) const
{
    if (origin.sha256.isEmpty())
        return std::nullopt;
    // A connection of its own, closed at once: the question before an import reads the history as
    // it is now, whatever the shared connection is doing.
    const QString connection = QStringLiteral("imp40500_history_check");
    std::optional<PreviousImport> found;
    {
        auto db = Database::open(Ambiente::instance().databaseUrl, connection);
        // A destination no import has reached since the history came has no table yet: the file
        // counts as never imported, as it does when the history cannot be read at all. An export
        // that wrote the same bytes is no import of them.
        if (db) {
            const auto last = ImportHistory::lastImportOf(db.value(), CdFilial, origin.sha256);
            if (last && last.value())
                found = PreviousImport{last.value()->when, last.value()->operatorCode};
            db.value().close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return found;
}
