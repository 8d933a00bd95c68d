// The export's run: the file's place, the database's snapshot, the pass, the history row.
#include "exportpass_p.h"
#include "fileerror.h"

#include "database.h"
#include "dberror.h"
#include "framework.h"
#include "importhistory.h"
#include "messages.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>

#include <atomic>

namespace MenuExport {

namespace detail {

Output::Output() : m_hash(EVP_MD_CTX_new())
{
    m_buf.reserve(kBlock + (64 << 10));
}

Output::~Output()
{
    EVP_MD_CTX_free(m_hash);
    // Not committed: QSaveFile throws the temporary file away.
}

Status Output::failed() const
{
    // errno is still the failed call's: the system's words stay in the detail.
    const int err = errno;
    return Status::fail(Msg(QStringLiteral("Exp_ArquivoNaoGravado"))
                            .arg(m_file.fileName(), FileError::whyNotWritten(m_file.fileName(), err)),
                        QStringLiteral("Exp_ArquivoNaoGravado"), m_file.errorString());
}

Status Output::open(const QString &path)
{
    if (!m_hash || EVP_DigestInit_ex(m_hash, EVP_sha256(), nullptr) != 1)
        return Status::fail(QStringLiteral("SHA-256 indisponível"));
    m_file.setFileName(path);
    // The file appears whole or not at all: never written in place, even where a temporary file
    // beside it cannot be made.
    m_file.setDirectWriteFallback(false);
    if (!m_file.open(QIODevice::WriteOnly))
        return failed();
    return okStatus();
}

Status Output::flush()
{
    if (m_buf.isEmpty())
        return okStatus();
    EVP_DigestUpdate(m_hash, m_buf.constData(), size_t(m_buf.size()));
    if (m_file.write(m_buf) != m_buf.size())
        return failed();
    m_bytes += m_buf.size();
    m_buf.resize(0);
    return okStatus();
}

Status Output::commit()
{
    if (Status s = flush(); !s)
        return s;
    if (!m_file.commit())
        return failed();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_hash, digest, &length);
    m_sha256 = QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
    return okStatus();
}

namespace {

// The file named is the SQLite database, or one of its companions: writing it would replace the
// database under the connection that reads it.
bool isDatabaseFile(const QString &url, const QString &path)
{
    // Any file of a database this process uses, by device and inode; then the one exported from,
    // by name, before it is opened.
    if (Database::isOwnFile(path))
        return true;
    const auto parsed = DbUrl::parse(url);
    if (!parsed || parsed->kind != DbKind::SQLite)
        return false;
    const QString db = QFileInfo(parsed->path).absoluteFilePath();
    const QString canonical = QFileInfo(parsed->path).canonicalFilePath();
    QString out = QFileInfo(path).absoluteFilePath();
    if (const QString c = QFileInfo(path).canonicalFilePath(); !c.isEmpty())
        out = c;
    for (const QString &base : {db, canonical}) {
        if (base.isEmpty())
            continue;
        for (const char *suffix : {"", "-wal", "-shm", "-journal"})
            if (out == base + QLatin1String(suffix))
                return true;
    }
    return false;
}

std::atomic<int> g_serial{0};

Result<Totals> exportOn(QSqlDatabase db, const Request &request, StopRequest *stop, Observer *observer)
{
    Totals totals;
    totals.path = QFileInfo(request.path).absoluteFilePath();
    Output out;
    if (Status s = out.open(request.path); !s)
        return Result<Totals>::fail(s.failure());
    auto begun = ExportRead::Snapshot::begin(db);
    if (!begun)
        return Result<Totals>::fail(DbError::describe(QStringLiteral("ler o banco de dados"), {}, begun.error()));
    std::unique_ptr<ExportRead::Snapshot> snapshot = std::move(begun).value();
    {
        Pass pass(*snapshot, request, out, stop, observer);
        if (Status s = pass.run(totals); !s)
            return Result<Totals>::fail(s.failure());
    }
    if (Status s = snapshot->finish(); !s)
        return Result<Totals>::fail(DbError::describe(QStringLiteral("ler o banco de dados"), {}, s.error()));
    snapshot.reset();
    if (Status s = out.commit(); !s)
        return Result<Totals>::fail(s.failure());
    totals.bytes = out.bytes();
    totals.sha256 = out.sha256();
    return totals;
}

// The export's row in the history: a written file or the reason there is none.
Status record(QSqlDatabase db, const Request &request, const Result<Totals> &result, qint64 ms)
{
    ImportHistory::Entry e;
    e.kind = ImportHistory::Entry::Kind::Export;
    e.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    e.when = QDateTime::currentDateTimeUtc().addMSecs(-ms);
    e.operatorCode = request.operatorCode.left(10);
    e.branch = request.branch;
    e.fileName = QFileInfo(request.path).fileName().left(255);
    e.durationMs = ms;
    e.ok = result.ok();
    if (result) {
        e.bytes = result->bytes;
        e.sha256 = result->sha256;
        e.dishesWritten = int(result->count(QStringLiteral("PRATO")));
        for (const auto &[table, n] : result->rows)
            e.rows.append({table, int(n)});
    } else {
        e.messageKey = result.failure().key;
        e.message = result.failure().message;
    }
    if (Status s = ImportHistory::ensureTable(db); !s)
        return s;
    return ImportHistory::insert(db, e);
}

} // namespace

} // namespace detail

std::optional<Tree> treeFromName(QStringView name)
{
    if (name == u"padrao")
        return Tree::Padrao;
    if (name == u"local")
        return Tree::Local;
    if (name == u"todos")
        return Tree::Todos;
    return std::nullopt;
}

QStringList tables()
{
    return {QStringLiteral("SERVICO"), QStringLiteral("PRATO"), QStringLiteral("RECEPADR"), QStringLiteral("PRATPADR"),
            QStringLiteral("RECEFILI"), QStringLiteral("PRATFILI"), QStringLiteral("RECESERV"), QStringLiteral("PRATSERV")};
}

qint64 Totals::count(const QString &table) const
{
    for (const auto &[name, n] : rows)
        if (name == table)
            return n;
    return 0;
}

QString Totals::rowsText() const
{
    QStringList parts;
    for (const auto &[name, n] : rows)
        parts << QStringLiteral("%1 %2").arg(name).arg(n);
    return parts.join(QStringLiteral(", "));
}

Observer::~Observer() = default;
void Observer::setProgressRange(qint64) {}
void Observer::setProgress(qint64) {}
void Observer::serveEvents() {}

bool refused(const Failure &f)
{
    static const QStringList keys{QStringLiteral("Exp_ValorInvalido"), QStringLiteral("Exp_ServicoInvalido"),
                                  QStringLiteral("Exp_MascaraInvalida"), QStringLiteral("Exp_SaidaBanco"),
                                  QStringLiteral("Exp_PratosDemais")};
    return keys.contains(f.key);
}

bool cancelled(const Failure &f)
{
    return f.key == QLatin1String("Exp_Cancelada");
}

Result<Totals> run(const Request &request, StopRequest *stop, Observer *observer)
{
    using namespace detail;
    if (isDatabaseFile(request.databaseUrl, request.path))
        return Result<Totals>::fail(Msg(QStringLiteral("Exp_SaidaBanco")).arg(request.path), QStringLiteral("Exp_SaidaBanco"));
    // Opening an SQLite file that is not there would make an empty database, and export nothing.
    if (const auto parsed = DbUrl::parse(request.databaseUrl); parsed && parsed->kind == DbKind::SQLite
                                                                && !QFileInfo::exists(parsed->path))
        return Result<Totals>::fail(Msg(QStringLiteral("Hist_BancoInexistente")).arg(request.databaseUrl));
    QElapsedTimer clock;
    clock.start();
    const QString name = QStringLiteral("imp40500_exportacao_%1").arg(++g_serial);
    Result<Totals> result = Result<Totals>::fail(QString());
    {
        auto db = Database::open(request.databaseUrl, name);
        if (!db) {
            result = Result<Totals>::fail(db.failure());
        } else {
            result = exportOn(db.value(), request, stop, observer);
            // The history row is written after the read snapshot ended, on the same connection.
            if (Status s = record(db.value(), request, result, clock.elapsed()); !s) {
                reportFailureDetail(s.failure());
                if (result)
                    result->historyFailure = s.error();
            }
            db.value().close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

} // namespace MenuExport
