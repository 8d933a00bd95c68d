#include "checkrun.h"

#include "checkreport.h"
#include "progress.h"

#include "ambiente.h"
#include "appserver.h"
#include "database.h"
#include "errorcsv.h"
#include "errorxlsx.h"
#include "framework.h"
#include "importpreview.h"
#include "importrun.h"
#include "importsession.h"
#include "interruption.h"
#include "loadpass.h"
#include "messages.h"
#include "stoprequest.h"

#include <QFileInfo>
#include <QScopeGuard>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

// What the core tells the operator on the screen goes to stderr here: errors with the command's
// name, information as it is.
class StderrSink final : public MessageSink {
public:
    explicit StderrSink(const QString &program) : m_program(program) {}
    void showError(const QString &text) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(m_program), qPrintable(text));
    }
    void showInfo(const QString &text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }

private:
    QString m_program;
};

QString signalName(int sig)
{
    switch (sig) {
    case SIGINT: return QStringLiteral("SIGINT");
    case SIGTERM: return QStringLiteral("SIGTERM");
    default: return QString::number(sig);
    }
}

// Copies what a temporary file holds to stdout.
void copyOut(std::FILE *from)
{
    std::rewind(from);
    char buf[1 << 16];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, from)) > 0;)
        std::fwrite(buf, 1, n, stdout);
}

} // namespace

QString CheckRun::namingFile(const QString &key, const QString &text) const
{
    static const QStringList aboutTheFile{QStringLiteral("Arquivo_N_Exist"), QStringLiteral("Diretorio_N_Exist"),
                                          QStringLiteral("Arquivo_Invalido"), QStringLiteral("Mascara_Dif")};
    if (!aboutTheFile.contains(key))
        return text;
    QString named = text;
    if (named.endsWith(u'.'))
        named.chop(1);
    return named + QStringLiteral(": ") + m_opts.file;
}

int CheckRun::failed(const Failure &failure, ExitCode::Phase phase) const
{
    reportFailureDetail(failure);
    const QString text = namingFile(failure.key, failure.message);
    std::fprintf(stderr, "%s: %s\n", qPrintable(m_opts.program), qPrintable(text));
    if (m_opts.json)
        CheckReport::writeJsonError(failure, text, stdout);
    std::fflush(stdout);
    return ExitCode::forFailure(failure, phase);
}

int CheckRun::stopped(const StopRequest &stop) const
{
    const QString key = m_opts.import ? QStringLiteral("Sinal_Importacao") : QStringLiteral("Sinal_Verificacao");
    const QString text = Msg(key).arg(signalName(stop.signal()));
    std::fprintf(stderr, "%s: %s\n", qPrintable(m_opts.program), qPrintable(text));
    if (m_opts.json)
        CheckReport::writeJsonError(Failure{text, key, {}, -1, {}, Failure::Kind::Interrupted}, text, stdout);
    std::fflush(stdout);
    return ExitCode::Interrupted;
}

int CheckRun::run()
{
    StderrSink sink(m_opts.program);
    MessageSink *previousSink = setMessageSink(&sink);
    const auto restoreSink = qScopeGuard([previousSink] { setMessageSink(previousSink); });

    // The file to check, and where the reports go: told before a long load that could not use them.
    if (QFileInfo(m_opts.file).isDir())
        return failed(Failure{Msg(QStringLiteral("Arquivo_EhPasta")).arg(m_opts.file), QStringLiteral("Arquivo_EhPasta"), {}});
    for (const QString &report : {m_opts.errorsCsv, m_opts.errorsXlsx}) {
        const QFileInfo out(report);
        if (!report.isEmpty() && (out.isDir() || !QFileInfo(out.absolutePath()).isDir()))
            return failed(ErrorCsv::writeFailure(report, 0));
    }
    // The dry run writes nothing: it reads a destination it may not write as well as any other.
    Database::setReadOnly(!m_opts.import);
    // The destination first: one out of reach (refused, not there, no such database) is told in
    // words, by its name, before anything is read.
    if (const Result<QSqlDatabase> db = Database::shared(); !db)
        return failed(db.failure());

    NetConnection net;
    net.BeforeConnect = [](NetConnection &c) { c.settingsFrom(Ambiente::instance()); };
    const bool terminal = isatty(fileno(stderr));
    CliProgress progress(terminal && !m_opts.json && !m_opts.quiet);
    ImportSession session(net);
    progress.countDishesOf(&session.cdsPrato);
    session.setObserver(&progress);
    // An import in this process (the embedded server) shows its tables and its wait for another
    // writer; the run's writes share one wait of 30 s in all.
    RdmMethods::setImportProgress(
        {[&progress](const QString &table, int done, int count) { progress.writing(table, done, count); },
         [&progress, terminal, this](int seconds) {
             if (terminal || seconds == 0)
                 progress.waiting(seconds, !terminal && !m_opts.quiet);
         }});
    RdmMethods::shareWriterWait(30000);
    const auto noHooks = qScopeGuard([] { RdmMethods::setImportProgress({}); });
    // SIGINT and SIGTERM only ask the work to stop: the load pass ends at its next line, an import
    // at its next table or before its commit, rolled back; then the run says so and exits 130.
    StopRequest &stop = StopRequest::process();
    StopRequest::installSignalHandlers();
    session.setStopRequest(&stop);
    session.NmArquivo = m_opts.file;
    // The dry run writes nothing into the destination, not even the remembered directory.
    session.RememberDirectory = m_opts.import;
    session.CdFilial = m_opts.branch;
    session.serviceMap.paresInformados = m_opts.pairs;

    try {
        return loadAndReport(session, progress, stop);
    } catch (const AbandonedAction &a) {
        // The command line's handler boundary: the message is told here, once.
        progress.clear();
        if (a.key() == u"Carga_Cancelada" || stop.requested())
            return stopped(stop);
        if (!a.toBeShown())
            return ExitCode::forFailure(a.failure(), ExitCode::Phase::Read);
        return failed(a.failure());
    } catch (const std::exception &e) {
        progress.clear();
        return failed(Failure::unexpected(QString::fromUtf8(e.what())));
    }
}

int CheckRun::loadAndReport(ImportSession &session, CliProgress &progress, StopRequest &stop)
{
    // As the screen: the remembered directory on its first activation, then leaving the panel.
    if (const Result<QString> dir = session.loadDiretorios(); !dir)
        return failed(dir.failure());
    session.Vd_Arquivo(true);
    const QString branchName = session.Vd_CdFilial(true, Ambiente::instance().Operador);
    if (const Status loaded = session.Grava_Tabelas(); !loaded) {
        progress.clear();
        if (LoadPass::cancelled(loaded.failure()) || stop.requested())
            return stopped(stop);
        return failed(loaded.failure());
    }
    if (stop.requested())
        return stopped(stop);
    // Only a file that loaded has errors to report: a refused one writes no file.
    if (const int exit = writeErrorReports(session); exit != ExitCode::Ok)
        return exit;
    return m_opts.import ? importTables(session, branchName, stop) : reportCheck(session, branchName, stop);
}

int CheckRun::writeErrorReports(ImportSession &session)
{
    const QString picture = Ambiente::instance().DBPict(1);
    if (!m_opts.errorsCsv.isEmpty()) {
        if (const Status written = ErrorCsv::write(session, picture, m_opts.errorsCsv); !written)
            return failed(written.failure());
    }
    if (!m_opts.errorsXlsx.isEmpty()) {
        if (const Status written = ErrorXlsx::write(session, picture, m_opts.errorsXlsx); !written)
            return failed(written.failure());
    }
    return ExitCode::Ok;
}

// import: the loaded tables sent as the import button sends them, then the report and the summary.
int CheckRun::importTables(ImportSession &session, const QString &branchName, StopRequest &stop)
{
    Ambiente &amb = Ambiente::instance();
    // The same file imported before into this branch is imported again, with a warning.
    if (const auto before = session.previousImport(session.fileOrigin()))
        messageSink()->showInfo(Msg(QStringLiteral("Hist_JaImportadoAviso"))
                                    .arg(before->when.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")),
                                         before->operatorCode));
    // The report reads the tables as the load left them, and the import lets the recipe tables
    // go (ReleaseRecipesOnImport): it is written before, into a temporary file, and printed
    // once the import is through. Without a temporary file the tables stay for the report.
    std::FILE *report = std::tmpfile();
    const auto writeReport = [&](std::FILE *to) {
        if (m_opts.json)
            CheckReport::writeJson(session, to, nullptr, false);
        else
            CheckReport::writeText(session, branchName, amb.DBPict(1), to, nullptr, m_opts.quiet);
    };
    if (report)
        writeReport(report);
    session.ReleaseRecipesOnImport = report != nullptr;
    const auto closeReport = qScopeGuard([report] {
        if (report)
            std::fclose(report);
    });
    const Result<ImportOutcome> outcome = ImportRun(session).run();
    session.observer().setStatusText(QString());
    if (!outcome && (outcome.failure().key == u"Imp_Interrompida" || stop.requested()))
        return stopped(stop);
    if (!outcome)
        return failed(outcome.failure(), ExitCode::Phase::Write);
    // A signal that came once the import was committed stopped nothing: it was written.
    if (stop.requested())
        messageSink()->showError(Msg(QStringLiteral("Sinal_Depois")).arg(signalName(stop.signal())));
    // Written all the same: the client's cache is this process's own, gone when it ends.
    if (outcome->cacheFailure) {
        reportFailureDetail(*outcome->cacheFailure);
        messageSink()->showError(outcome->cacheFailure->message);
    }
    if (report)
        copyOut(report);
    else
        writeReport(stdout);
    if (m_opts.json) {
        CheckReport::writeImportOutcome(outcome->summary, stdout);
    } else {
        std::printf("\n%s\n", qPrintable(outcome->summaryText(amb.DBPict(1))));
        if (!m_opts.quiet)
            std::printf("%s\n", qPrintable(Msg(QStringLiteral("ImportaOk"))));
    }
    std::fflush(stdout);
    return m_opts.strict && !outcome->summary.dishesNotWritten.isEmpty() ? ExitCode::DishErrors : ExitCode::Ok;
}

// check: the report, with what the import would change when the server can tell.
int CheckRun::reportCheck(ImportSession &session, const QString &branchName, StopRequest &stop)
{
    // What the import would change. A server that cannot tell (one without GetPrevia)
    // leaves the report without it, and says so on stderr: the check itself stands.
    const Result<ImportPreview> preview = ImportPreview::ask(session);
    if (stop.requested())
        return stopped(stop);
    if (!preview) {
        reportFailureDetail(preview.failure());
        messageSink()->showError(Msg(QStringLiteral("Previa_Indisponivel")).arg(preview.failure().message));
    }
    const ImportPreview *shown = preview ? &preview.value() : nullptr;
    if (m_opts.json)
        CheckReport::writeJson(session, stdout, shown);
    else
        CheckReport::writeText(session, branchName, Ambiente::instance().DBPict(1), stdout, shown, m_opts.quiet);
    std::fflush(stdout);
    return m_opts.strict && ErrorCsv::anyErrors(session) ? ExitCode::DishErrors : ExitCode::Ok;
}
