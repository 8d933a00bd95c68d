#include "signin.h"

#include "ambiente.h"

#include <QCheckBox>
#include <QCommandLineParser>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>

SignInValues SignInValues::fromSettings()
{
    const QSettings s(QStringLiteral("IMP40500"), QStringLiteral("imp40500-host"));
    SignInValues v;
    v.operador = s.value(QStringLiteral("signin/operator")).toString();
    v.filial = s.value(QStringLiteral("signin/branch")).toString();
    v.nomeFilial = s.value(QStringLiteral("signin/branchName")).toString();
    v.moduFili = s.value(QStringLiteral("signin/perBranch"), false).toBool();
    v.server = s.value(QStringLiteral("signin/server")).toString();
    v.databaseUrl = s.value(QStringLiteral("signin/database")).toString();
    v.locale = s.value(QStringLiteral("signin/locale"), QStringLiteral("pt_BR")).toString();
    return v;
}

void SignInValues::saveToSettings() const
{
    QSettings s(QStringLiteral("IMP40500"), QStringLiteral("imp40500-host"));
    s.setValue(QStringLiteral("signin/operator"), operador);
    s.setValue(QStringLiteral("signin/branch"), filial);
    s.setValue(QStringLiteral("signin/branchName"), nomeFilial);
    s.setValue(QStringLiteral("signin/perBranch"), moduFili);
    s.setValue(QStringLiteral("signin/server"), server);
    s.setValue(QStringLiteral("signin/database"), databaseUrl);
    s.setValue(QStringLiteral("signin/locale"), locale);
    // The token is a credential: it is asked for or passed in, never written to disk.
}

void SignInValues::applyEnvironment()
{
    const auto get = [](const char *name, QString &into) {
        if (qEnvironmentVariableIsSet(name))
            into = qEnvironmentVariable(name).trimmed();
    };
    get("IMP_OPERATOR", operador);
    get("IMP_BRANCH", filial);
    get("IMP_BRANCH_NAME", nomeFilial);
    get("IMP_SERVER", server);
    get("IMP_TOKEN", token);
    get("IMP_DB", databaseUrl);
    get("IMP_LOCALE", locale);
    if (qEnvironmentVariableIsSet("IMP_MODUFILI")) {
        const QString f = qEnvironmentVariable("IMP_MODUFILI").trimmed().toUpper();
        moduFili = f == QLatin1String("1") || f == QLatin1String("S") || f == QLatin1String("SIM")
            || f == QLatin1String("TRUE") || f == QLatin1String("YES");
    }
}

void SignInValues::addCommandLineOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {QStringLiteral("operator"), QStringLiteral("Operator code."), QStringLiteral("code")},
        {QStringLiteral("branch"), QStringLiteral("The operator's branch code."), QStringLiteral("code")},
        {QStringLiteral("branch-name"), QStringLiteral("The branch's name (read from the database when omitted)."),
         QStringLiteral("name")},
        {QStringLiteral("per-branch"), QStringLiteral("The module works per branch: the destination is the operator's branch.")},
        {QStringLiteral("server"), QStringLiteral("Application server host:port; empty or omitted runs it inside the host."),
         QStringLiteral("host:port")},
        {QStringLiteral("token"), QStringLiteral("The application server's token."), QStringLiteral("token")},
        {QStringLiteral("db"), QStringLiteral("Destination database: sqlite:PATH or postgresql://user:pw@host:port/db."),
         QStringLiteral("url")},
        {QStringLiteral("locale"), QStringLiteral("Locale of the export files' numbers and dates (e.g. pt_BR)."),
         QStringLiteral("name")},
    });
}

void SignInValues::applyCommandLine(const QCommandLineParser &parser)
{
    const auto get = [&parser](const char *name, QString &into) {
        if (parser.isSet(QLatin1String(name)))
            into = parser.value(QLatin1String(name)).trimmed();
    };
    get("operator", operador);
    get("branch", filial);
    get("branch-name", nomeFilial);
    get("server", server);
    get("token", token);
    get("db", databaseUrl);
    get("locale", locale);
    if (parser.isSet(QStringLiteral("per-branch")))
        moduFili = true;
}

QString SignInValues::problem() const
{
    if (operador.trimmed().isEmpty())
        return QStringLiteral("Informe o operador.");
    if (filial.trimmed().isEmpty())
        return QStringLiteral("Informe a filial.");
    if (databaseUrl.trimmed().isEmpty())
        return QStringLiteral("Informe o banco de dados (sqlite:ARQUIVO ou postgresql://...).");
    const QString srv = server.trimmed();
    if (!srv.isEmpty()) {
        const qsizetype colon = srv.lastIndexOf(u':');
        bool ok = false;
        const int port = colon > 0 ? srv.mid(colon + 1).toInt(&ok) : 0;
        if (!ok || port <= 0 || port > 65535)
            return QStringLiteral("Servidor de aplicação inválido: use host:porta, ou deixe vazio.");
    }
    return QString();
}

void SignInValues::applyToAmbiente() const
{
    Ambiente &amb = Ambiente::instance();
    amb.Operador = operador.trimmed();
    amb.FiliProc = filial.trimmed();
    amb.NomeFiliProc = nomeFilial.trimmed();
    amb.ModuFili = moduFili;
    amb.token = token;
    amb.databaseUrl = databaseUrl.trimmed();
    amb.WebURL.clear();
    amb.WebPort = 0;
    if (!server.trimmed().isEmpty())
        amb.setServer(server);
    if (!locale.trimmed().isEmpty())
        amb.locale = QLocale(locale.trimmed());
}

SignInDialog::SignInDialog(const SignInValues &initial, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Entrada no sistema"));
    auto *form = new QFormLayout(this);
    m_operador = new QLineEdit(initial.operador, this);
    m_filial = new QLineEdit(initial.filial, this);
    m_nomeFilial = new QLineEdit(initial.nomeFilial, this);
    m_nomeFilial->setPlaceholderText(QStringLiteral("lido do banco de dados"));
    m_moduFili = new QCheckBox(QStringLiteral("Módulo por filial"), this);
    m_moduFili->setChecked(initial.moduFili);
    m_server = new QLineEdit(initial.server, this);
    m_server->setPlaceholderText(QStringLiteral("vazio: servidor embutido"));
    m_token = new QLineEdit(initial.token, this);
    m_token->setEchoMode(QLineEdit::Password);
    m_database = new QLineEdit(initial.databaseUrl, this);
    m_database->setMinimumWidth(320);
    m_locale = new QLineEdit(initial.locale, this);
    form->addRow(QStringLiteral("Operador"), m_operador);
    form->addRow(QStringLiteral("Filial"), m_filial);
    form->addRow(QStringLiteral("Nome da filial"), m_nomeFilial);
    form->addRow(QString(), m_moduFili);
    form->addRow(QStringLiteral("Servidor de aplicação"), m_server);
    form->addRow(QStringLiteral("Token"), m_token);
    form->addRow(QStringLiteral("Banco de dados"), m_database);
    form->addRow(QStringLiteral("Localidade"), m_locale);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &SignInDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SignInDialog::reject);
    form->addRow(buttons);
}

SignInValues SignInDialog::values() const
{
    SignInValues v;
    v.operador = m_operador->text().trimmed();
    v.filial = m_filial->text().trimmed();
    v.nomeFilial = m_nomeFilial->text().trimmed();
    v.moduFili = m_moduFili->isChecked();
    v.server = m_server->text().trimmed();
    v.token = m_token->text();
    v.databaseUrl = m_database->text().trimmed();
    v.locale = m_locale->text().trimmed();
    return v;
}

void SignInDialog::accept()
{
    const QString problem = values().problem();
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, windowTitle(), problem);
        return;
    }
    QDialog::accept();
}
