// imp40500 check FILE --branch CODE [--db URL] [--operator CODE] [--locale NAME] [--server HOST:PORT] [--json]
//                  [--pair ORIGEM=DESTINO ...]
//                    [--errors-csv OUT]
// imp40500 import FILE --branch CODE ...
// The file and branch checks and the load pass, exactly as the screen runs them when the operator
// leaves the parameter panel; `import` then sends the tables as the import button does.
#include "commands.h"
#include "checkreport.h"

#include "ambiente.h"
#include "appserver.h"
#include "database.h"
#include "embedded.h"
#include "errorcsv.h"
#include "framework.h"
#include "importpreview.h"
#include "importrun.h"
#include "importsession.h"
#include "loadpass.h"
#include "messages.h"
#include "stoprequest.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QScopeGuard>

#include <csignal>
#include <cstdio>
#include <optional>
#include <malloc.h>
#include <unistd.h>

namespace {

class StderrSink final : public MessageSink {
public:
    void showError(const QString &text) override { std::fprintf(stderr, "imp40500: %s\n", qPrintable(text)); }
    void showInfo(const QString &text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
};

// A progress bar on stderr, drawn only on a terminal and only when the pass lets events through
// (a few times a second); per line it just keeps the position.
class CliObserver final : public LoadObserver {
public:
    explicit CliObserver(bool draw) : m_draw(draw) {}
    ~CliObserver() override { finish(); }
    void setProgressRange(int maximum) override { m_max = maximum; }
    void setProgress(int position) override { m_pos = position; }
    void setStatusText(const QString &text) override
    {
        m_status = text;
        if (text.isEmpty())
            finish();
    }
    void serveEvents() override
    {
        if (!m_draw || m_status.isEmpty() || m_max <= 0)
            return;
        const int width = 30;
        const int filled = int(qint64(qBound(0, m_pos, m_max)) * width / m_max);
        std::fprintf(stderr, "\r%s [%s%s] %d/%d", qPrintable(m_status), QByteArray(filled, '#').constData(),
                     QByteArray(width - filled, '.').constData(), m_pos, m_max);
        std::fflush(stderr);
        m_drawn = true;
    }

private:
    void finish()
    {
        if (m_drawn) {
            std::fputs("\n", stderr);
            m_drawn = false;
        }
    }
    bool m_draw;
    bool m_drawn = false;
    int m_max = 0;
    int m_pos = 0;
    QString m_status;
};

int fail(bool json, const QString &key, const QString &text)
{
    if (json)
        CheckReport::writeJsonError(key, text, stdout);
    return key.isEmpty() ? 1 : 2;
}

QString signalName(int sig)
{
    switch (sig) {
    case SIGINT: return QStringLiteral("SIGINT");
    case SIGTERM: return QStringLiteral("SIGTERM");
    default: return QString::number(sig);
    }
}

// Exit code of a run stopped by a signal, as a shell gives a command its signal ended (128 + 2).
constexpr int kStoppedExit = 130;

} // namespace

namespace {

// What the options leave for the run itself.
struct CheckOptions {
    QString file;
    QString branch;
    bool json = false;
    QList<QPair<QString, QString>> pairs; // --pair ORIGEM=DESTINO, in the order given
    QString errorsCsv; // --errors-csv: where the errors of the dishes go; empty: nowhere
};

// The options of check and import, with their help texts.
void addOptions(QCommandLineParser &cli, bool import)
{
    cli.setApplicationDescription(import ? QStringLiteral("Verifica e importa um arquivo de exportação de pratos.")
                                         : QStringLiteral("Verifica um arquivo de exportação de pratos contra o destino."));
    cli.addHelpOption();
    cli.addPositionalArgument(QStringLiteral("ARQUIVO"), QStringLiteral("O arquivo de exportação."));
    cli.addOption({QStringLiteral("branch"), QStringLiteral("Filial destino."), QStringLiteral("CODIGO")});
    cli.addOption({QStringLiteral("db"),
                   QStringLiteral("Banco de destino: sqlite:CAMINHO ou postgresql://... (padrão: IMP_DB, senão "
                                  "sqlite:imp40500-demo.db)."),
                   QStringLiteral("URL")});
    cli.addOption({QStringLiteral("operator"), QStringLiteral("Operador (padrão: ADMIN)."), QStringLiteral("CODIGO")});
    cli.addOption({QStringLiteral("locale"),
                   QStringLiteral("Formato regional de números e datas do arquivo (padrão: o do sistema; "
                                  "pt_BR quando o ambiente não define nenhum)."),
                   QStringLiteral("NOME")});
    cli.addOption({QStringLiteral("server"), QStringLiteral("Servidor de aplicação (padrão: embutido)."),
                   QStringLiteral("HOST:PORTA")});
    cli.addOption({QStringLiteral("json"), QStringLiteral("Resultado em JSON.")});
    cli.addOption({QStringLiteral("pair"),
                   QStringLiteral("Pareia o serviço de origem com o serviço destino, como na aba Serviço "
                                  "(pode ser repetido)."),
                   QStringLiteral("ORIGEM=DESTINO")});
    cli.addOption({QStringLiteral("errors-csv"),
                   QStringLiteral("Grava os erros dos pratos em SAIDA (CSV em UTF-8, separado por \";\")."),
                   QStringLiteral("SAIDA")});
    cli.addOption({QStringLiteral("verbose"),
                   QStringLiteral("Mostra em stderr o detalhe das falhas (o texto do banco de dados ou do sistema).")});
}

// Parses the options and sets the environment from them; an exit code when the command ends here
// (help, or options that cannot be used).
std::optional<int> setUp(const QStringList &args, bool import, CheckOptions &opts)
{
    const char *const name = import ? "import" : "check";
    QCommandLineParser cli;
    addOptions(cli, import);
    if (!cli.parse(args)) {
        std::fprintf(stderr, "imp40500 %s: %s\n", name, qPrintable(cli.errorText()));
        return 1;
    }
    if (cli.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(cli.helpText()), stdout);
        return 0;
    }
    opts.json = cli.isSet(QStringLiteral("json"));
    opts.errorsCsv = cli.value(QStringLiteral("errors-csv"));
    if (cli.isSet(QStringLiteral("verbose")))
        setFailureDetailSink([](const QString &detail) { std::fprintf(stderr, "detalhe: %s\n", qPrintable(detail)); });
    const QStringList positional = cli.positionalArguments();
    if (positional.size() != 1 || !cli.isSet(QStringLiteral("branch"))) {
        std::fprintf(stderr, "imp40500 %s: informe o ARQUIVO e --branch CODIGO (--help para as opções).\n", name);
        return 1;
    }

    Ambiente &amb = Ambiente::instance();
    if (cli.isSet(QStringLiteral("db")))
        amb.databaseUrl = cli.value(QStringLiteral("db"));
    else if (qEnvironmentVariableIsSet("IMP_DB"))
        amb.databaseUrl = qEnvironmentVariable("IMP_DB");
    else
        amb.databaseUrl = QStringLiteral("sqlite:imp40500-demo.db");
    amb.Operador = cli.isSet(QStringLiteral("operator")) ? cli.value(QStringLiteral("operator")) : QStringLiteral("ADMIN");
    if (cli.isSet(QStringLiteral("locale"))) {
        const QString loc = cli.value(QStringLiteral("locale"));
        const QLocale l(loc);
        if (l == QLocale::c() && loc != u"C" && loc != u"POSIX") {
            std::fprintf(stderr, "imp40500 %s: formato regional desconhecido: %s\n", name, qPrintable(loc));
            return 1;
        }
        amb.locale = l;
    }
    if (cli.isSet(QStringLiteral("server")) && !amb.setServer(cli.value(QStringLiteral("server")))) {
        std::fprintf(stderr, "imp40500 %s: servidor inválido (use HOST:PORTA): %s\n", name,
                     qPrintable(cli.value(QStringLiteral("server"))));
        return 1;
    }
    if (!hasEmbeddedServerFactory())
        registerEmbeddedServer();
    // Large buffers (the tables' columns) come straight from the system and go back to it when
    // freed; glibc would otherwise raise the threshold after the first big free and keep every
    // outgrown column buffer in the heap for the life of the process.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    for (const QString &pair : cli.values(QStringLiteral("pair"))) {
        const qsizetype eq = pair.indexOf(u'=');
        if (eq < 0) {
            std::fprintf(stderr, "imp40500 %s: %s\n", name, qPrintable(Msg(QStringLiteral("Par_Invalido")).arg(pair)));
            return 1;
        }
        opts.pairs.append({pair.left(eq).trimmed(), pair.mid(eq + 1).trimmed()});
    }
    opts.file = positional.first();
    opts.branch = cli.value(QStringLiteral("branch"));
    return std::nullopt;
}

// What the steps of a run share once the load pass has begun.
struct Run {
    ImportSession &session;
    StderrSink &sink;
    CliObserver &observer;
    StopRequest &stop;
    bool json;
    bool import;

    // A run stopped by SIGINT or SIGTERM says so, on stderr and in the JSON, and exits 130.
    int stopped() const
    {
        observer.setStatusText(QString());
        const QString key = import ? QStringLiteral("Sinal_Importacao") : QStringLiteral("Sinal_Verificacao");
        const QString text = Msg(key).arg(signalName(stop.signal()));
        sink.showError(text);
        if (json)
            CheckReport::writeJsonError(key, text, stdout);
        std::fflush(stdout);
        return kStoppedExit;
    }

    // A failure the core returned: told on stderr as the screen would show it, then the exit.
    int failed(const Failure &f) const
    {
        reportFailureDetail(f);
        sink.showError(f.message);
        return fail(json, f.key, f.message);
    }

    // import: the loaded tables sent as the import button sends them, then the report and the summary.
    int importTables(const QString &branchName) const
    {
        Ambiente &amb = Ambiente::instance();
        // The same file imported before into this branch is imported again, with a warning.
        if (const auto before = session.previousImport(session.fileOrigin()))
            sink.showInfo(Msg(QStringLiteral("Hist_JaImportadoAviso"))
                              .arg(before->when.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")),
                                   before->operatorCode));
        // The report reads the tables as the load left them, and the import lets the recipe tables
        // go (ReleaseRecipesOnImport): it is written before, into a temporary file, and printed
        // once the import is through. Without a temporary file the tables stay for the report.
        std::FILE *report = std::tmpfile();
        if (report) {
            if (json)
                CheckReport::writeJson(session, report);
            else
                CheckReport::writeText(session, branchName, amb.DBPict(1), report);
        }
        session.ReleaseRecipesOnImport = report != nullptr;
        const auto closeReport = qScopeGuard([report] {
            if (report)
                std::fclose(report);
        });
        const Result<ImportOutcome> outcome = ImportRun(session).run();
        if (!outcome && (outcome.failure().key == u"Imp_Interrompida" || stop.requested()))
            return stopped();
        if (!outcome)
            return failed(outcome.failure());
        // A signal that came once the import was committed stopped nothing: it was written.
        if (stop.requested())
            sink.showError(Msg(QStringLiteral("Sinal_Depois")).arg(signalName(stop.signal())));
        if (report) {
            std::rewind(report);
            char buf[1 << 16];
            for (size_t n; (n = std::fread(buf, 1, sizeof buf, report)) > 0;)
                std::fwrite(buf, 1, n, stdout);
        } else if (json) {
            CheckReport::writeJson(session, stdout);
        } else {
            CheckReport::writeText(session, branchName, amb.DBPict(1), stdout);
        }
        if (json) {
            std::fprintf(stderr, "%s\n", qPrintable(outcome->summaryText(amb.DBPict(1))));
        } else {
            std::printf("\n%s\n", qPrintable(outcome->summaryText(amb.DBPict(1))));
            std::printf("%s\n", qPrintable(Msg(QStringLiteral("ImportaOk"))));
        }
        std::fflush(stdout);
        return 0;
    }

    // check: the report, with what the import would change when the server can tell.
    int reportCheck(const QString &branchName) const
    {
        Ambiente &amb = Ambiente::instance();
        // What the import would change. A server that cannot tell (one without GetPrevia)
        // leaves the report without it, and says so on stderr: the check itself stands.
        const Result<ImportPreview> preview = ImportPreview::ask(session);
        if (stop.requested())
            return stopped();
        if (!preview) {
            reportFailureDetail(preview.failure());
            sink.showError(Msg(QStringLiteral("Previa_Indisponivel")).arg(preview.failure().message));
        }
        const ImportPreview *shown = preview ? &preview.value() : nullptr;
        if (json)
            CheckReport::writeJson(session, stdout, shown);
        else
            CheckReport::writeText(session, branchName, amb.DBPict(1), stdout, shown);
        std::fflush(stdout);
        return 0;
    }
};

} // namespace

int runCheck(const QStringList &args, bool import)
{
    CheckOptions opts;
    if (const std::optional<int> exitCode = setUp(args, import, opts))
        return *exitCode;
    const bool json = opts.json;
    Ambiente &amb = Ambiente::instance();

    StderrSink sink;
    MessageSink *previousSink = setMessageSink(&sink);
    struct RestoreSink {
        MessageSink *p;
        ~RestoreSink() { setMessageSink(p); }
    } restoreSink{previousSink};

    NetConnection net;
    net.BeforeConnect = [](NetConnection &c) {
        c.Host = Ambiente::instance().WebURL;
        c.Port = Ambiente::instance().WebPort;
    };

    CliObserver observer(!json && isatty(fileno(stderr)));
    ImportSession session(net);
    session.setObserver(&observer);
    // SIGINT and SIGTERM only ask the work to stop: the load pass ends at its next line, an import
    // at its next table or before its commit, rolled back; then the run says so and exits 130.
    StopRequest &stop = StopRequest::process();
    StopRequest::installSignalHandlers();
    session.setStopRequest(&stop);
    session.NmArquivo = opts.file;
    // The dry run writes nothing into the destination, not even the remembered directory.
    session.RememberDirectory = import;
    session.CdFilial = opts.branch;
    session.serviceMap.paresInformados = opts.pairs;

    const Run run{session, sink, observer, stop, json, import};

    try {
        // As the screen: the remembered directory on its first activation, then leaving the panel.
        if (const Result<QString> dir = session.loadDiretorios(); !dir)
            return run.failed(dir.failure());
        session.Vd_Arquivo(true);
        const QString branchName = session.Vd_CdFilial(true, amb.Operador);
        if (const Status loaded = session.Grava_Tabelas(); !loaded) {
            if (LoadPass::cancelled(loaded.failure()) || stop.requested())
                return run.stopped();
            return run.failed(loaded.failure());
        }
        if (stop.requested())
            return run.stopped();
        // Only a file that loaded has errors to report: a refused one writes no file.
        if (!opts.errorsCsv.isEmpty()) {
            if (const Status written = ErrorCsv::write(session, amb.DBPict(1), opts.errorsCsv); !written)
                return run.failed(written.failure());
        }

        return import ? run.importTables(branchName) : run.reportCheck(branchName);
    } catch (const AbandonedAction &a) {
        // The command line's handler boundary: the message is told here, once.
        DeactiveShowAvi();
        if (a.key() == u"Carga_Cancelada" || stop.requested())
            return run.stopped();
        if (a.toBeShown())
            sink.showError(a.text());
        return fail(json, a.key(), a.text());
    } catch (const DatabaseError &e) {
        DeactiveShowAvi();
        sink.showError(e.message());
        return fail(json, {}, e.message());
    } catch (const std::exception &e) {
        DeactiveShowAvi();
        const QString text = QString::fromUtf8(e.what());
        sink.showError(text);
        return fail(json, {}, text);
    }
}
