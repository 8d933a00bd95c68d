// The session's side of the import history: what the client tells the server about the file, and
// whether the same file was already imported into the branch.
#include "importsession.h"
#include "ambiente.h"
#include "database.h"

#include <QFileInfo>
#include <QSqlQuery>

namespace {

// The last file hashed on this thread: the question before an import and the import itself read
// a large file once, not twice. A file changed since (size or time) is read again.
struct HashedFile {
    QString path;
    qint64 size = -1;
    QDateTime modified;
    ImportOrigin origin;
};
thread_local HashedFile t_lastHashed;

} // namespace

ImportOrigin ImportSession::fileOrigin() const
{
    const QString operador = Ambiente::instance().Operador.trimmed().left(10);
    const QFileInfo info(NmArquivo);
    HashedFile &last = t_lastHashed;
    if (!info.isFile() || last.path != info.absoluteFilePath() || last.size != info.size()
        || last.modified != info.lastModified()) {
        last = HashedFile();
        auto o = ImportOrigin::ofFile(NmArquivo, operador);
        if (!o) {
            ImportOrigin known;
            known.operatorCode = operador;
            known.fileName = info.fileName().left(255);
            return known;
        }
        last = HashedFile{info.absoluteFilePath(), info.size(), info.lastModified(), o.value()};
    }
    ImportOrigin o = last.origin;
    o.operatorCode = operador;
    return o;
}

std::optional<ImportSession::PreviousImport> ImportSession::previousImport(const ImportOrigin &origin) const
{
    if (origin.sha256.isEmpty())
        return std::nullopt;
    // A connection of its own, closed at once: the shared one may hold a read snapshot open under
    // a query the screen keeps positioned, and would miss an import made since.
    const QString connection = QStringLiteral("imp40500_history_check");
    std::optional<PreviousImport> found;
    {
        auto db = Database::open(Ambiente::instance().databaseUrl, connection);
        if (db) {
            QSqlQuery q(db.value());
            q.setForwardOnly(true);
            // A destination no import has reached since the history came has no table yet: the
            // query fails, and the file counts as never imported.
            if (q.prepare(QStringLiteral("SELECT DTIMPORTACAO, CDOPERADOR FROM HISTIMPO WHERE CDFILIAL = ? "
                                         "AND DSSHA256 = ? AND IDRESULTADO = 'ok' ORDER BY DTIMPORTACAO DESC"))) {
                q.bindValue(0, CdFilial);
                q.bindValue(1, origin.sha256);
                if (q.exec() && q.next()) {
                    const QVariant v = q.value(0);
                    QDateTime when = v.metaType().id() == QMetaType::QDateTime
                        ? v.toDateTime()
                        : QDateTime::fromString(v.toString().left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
                    found = PreviousImport{QDateTime(when.date(), when.time(), Qt::UTC), q.value(1).toString().trimmed()};
                }
            }
            q.finish();
            db.value().close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return found;
}
