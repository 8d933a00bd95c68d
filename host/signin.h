#pragma once
// Sign-in of the host: who is working, in which branch, against which application server and
// database. Each value comes from the first of: the command line, the environment variables,
// the last sign-in (QSettings), a default. The dialog shows the values for confirmation, each
// with where it came from.
//
// The application server is the exception to "remembered": a server address used once is not
// taken again by itself, since without --server (or IMP_SERVER) the host runs its server inside
// the process. The dialog offers the remembered address; the operator has to choose it.
#include <QDialog>
#include <QHash>
#include <QLocale>
#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;
class QCommandLineParser;
class QPushButton;
class QSettings;

struct SignInValues {
    enum class Origin { Default, Remembered, Environment, CommandLine, Typed };
    // The fields, by the names origin() takes.
    static constexpr const char *kOperador = "operador";
    static constexpr const char *kFilial = "filial";
    static constexpr const char *kNomeFilial = "nomeFilial";
    static constexpr const char *kModuFili = "moduFili";
    static constexpr const char *kServer = "server";
    static constexpr const char *kToken = "token";
    static constexpr const char *kDatabase = "databaseUrl";
    static constexpr const char *kLocale = "locale";

    QString operador;
    QString filial;
    QString nomeFilial;
    bool moduFili = false;
    QString server;     // host:port; empty runs the application server inside the host
    QString token;
    QString databaseUrl;
    QString locale = QStringLiteral("pt_BR");   // e.g. pt_BR
    // The server of the last sign-in: offered, never used by itself.
    QString rememberedServer;

    // Where a field's value came from (Default when never set).
    Origin origin(const char *field) const;
    void setOrigin(const char *field, Origin o) { m_origin[QLatin1String(field)] = o; }
    // In words, for the dialog ("linha de comando", "ambiente (IMP_BRANCH)", ...).
    QString originText(const char *field) const;

    // Settings of the host's sign-in (organisation IMP40500, application imp40500-host).
    static SignInValues fromSettings();
    static SignInValues fromSettings(const QSettings &s);
    void saveToSettings() const;          // everything but the token
    void saveToSettings(QSettings &s) const;
    void applyEnvironment();              // IMP_OPERATOR, IMP_BRANCH, ... (as the platform reads them)
    void applyCommandLine(const QCommandLineParser &parser);
    static void addCommandLineOptions(QCommandLineParser &parser);

    // Why these values cannot be used; empty when they can.
    QString problem() const;
    // Fills the operator environment of this process.
    void applyToAmbiente() const;

private:
    QHash<QString, Origin> m_origin;
    QHash<QString, QString> m_envName;   // field -> the variable it was read from
};

class SignInDialog : public QDialog {
    Q_OBJECT
public:
    explicit SignInDialog(const SignInValues &initial, QWidget *parent = nullptr);
    SignInValues values() const;
    // The origin shown beside a field.
    QString originShown(const char *field) const;

    void accept() override;

private:
    QLineEdit *addField(class QFormLayout *form, const QString &label, const char *field,
                        const QString &value);
    void markTyped(const char *field);

    SignInValues m_initial;
    QHash<QString, QLabel *> m_originLabels;
    QHash<QString, bool> m_typed;
    QLineEdit *m_operador;
    QLineEdit *m_filial;
    QLineEdit *m_nomeFilial;
    QCheckBox *m_moduFili;
    QLineEdit *m_server;
    QPushButton *m_useRemembered = nullptr;
    QLineEdit *m_token;
    QLineEdit *m_database;
    QLineEdit *m_locale;
};
