// The session's side of the import history: what the client tells the server about the file, and
// whether the same file was already imported into the branch.
#include "importsession.h"
#include "loadpassparts.h"
#include "ambiente.h"
#include "database.h"

#include <QFileInfo>
#include <QSqlQuery>

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
        if (db) {
            {
                QSqlQuery q(db.value());
                q.setForwardOnly(true);
                // A destination no import has reached since the history came has no table yet: the
                // query fails, and the file counts as never imported. The time is read as the
                // database writes it, so that no driver reads it in this process's time zone.
                if (q.prepare(QStringLiteral("SELECT CAST(DTIMPORTACAO AS TEXT), CDOPERADOR FROM HISTIMPO WHERE CDFILIAL = ? "
                                             "AND DSSHA256 = ? AND IDRESULTADO = 'ok' ORDER BY DTIMPORTACAO DESC"))) {
                    q.bindValue(0, CdFilial);
                    q.bindValue(1, origin.sha256);
                    if (q.exec() && q.next())
                        found = PreviousImport{Database::utcFromText(q.value(0).toString()), q.value(1).toString().trimmed()};
                }
            }
            // The statement goes before its connection: the driver cannot free it afterwards.
            db.value().close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return found;
}
