#pragma once
// Sign-in of the host: who is working, in which branch, against which application server and
// database. The values come from the last sign-in (QSettings), then the environment variables,
// then the command line, each overriding the one before; the dialog shows them for confirmation.
#include <QDialog>
#include <QLocale>
#include <QString>

class QCheckBox;
class QLineEdit;
class QCommandLineParser;

struct SignInValues {
    QString operador;
    QString filial;
    QString nomeFilial;
    bool moduFili = false;
    QString server;     // host:port; empty runs the application server inside the host
    QString token;
    QString databaseUrl;
    QString locale;     // e.g. pt_BR

    static SignInValues fromSettings();
    void saveToSettings() const;          // everything but the token
    void applyEnvironment();              // IMP_OPERATOR, IMP_BRANCH, ... (as the platform reads them)
    void applyCommandLine(const QCommandLineParser &parser);
    static void addCommandLineOptions(QCommandLineParser &parser);

    // Why these values cannot be used; empty when they can.
    QString problem() const;
    // Fills the operator environment of this process.
    void applyToAmbiente() const;
};

class SignInDialog : public QDialog {
    Q_OBJECT
public:
    explicit SignInDialog(const SignInValues &initial, QWidget *parent = nullptr);
    SignInValues values() const;

    void accept() override;

private:
    QLineEdit *m_operador;
    QLineEdit *m_filial;
    QLineEdit *m_nomeFilial;
    QCheckBox *m_moduFili;
    QLineEdit *m_server;
    QLineEdit *m_token;
    QLineEdit *m_database;
    QLineEdit *m_locale;
};
