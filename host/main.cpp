// imp40500-host: the business system's shell for the dish import screen. Signs the operator in,
// runs the application server in-process when no server address is given, and opens the screen
// from its runtime package.
#include "embedded.h"
#include "mainwindow.h"
#include "qttranslations.h"
#include "signin.h"

#include "ambiente.h"
#include "programinfo.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

namespace {

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral("Aplicação que abre a tela de importação de pratos (IMP40500)."));
    ProgramInfo::addStandardOptions(parser);
    SignInValues::addCommandLineOptions(parser);
    parser.addOption({QStringLiteral("no-sign-in"),
                      QStringLiteral("Dispensa a janela de entrada quando os valores informados estão completos.")});
    parser.addOption({QStringLiteral("open"), QStringLiteral("Abre \"Importação de Prato\" ao iniciar.")});
    parser.addOption({QStringLiteral("grab"),
                      QStringLiteral("Grava uma imagem da janela principal quando ela se acomoda e termina "
                                     "(documentação; funciona na plataforma offscreen)."),
                      QStringLiteral("arquivo.png")});
}

// --help and --version print and quit: they need no display (an ssh session, help2man at build).
void printingNeedsNoDisplay(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if ((arg == "--help" || arg == "-h" || arg == "--help-all" || arg == "--version" || arg == "-v")
            && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

} // namespace

int main(int argc, char *argv[])
{
    printingNeedsNoDisplay(argc, argv);
    QApplication app(argc, argv);
    ProgramInfo::setUp(QStringLiteral("imp40500-host"));
    QApplication::setOrganizationName(QStringLiteral("IMP40500"));
    QApplication::setWindowIcon(MainWindow::hostIcon());

    QCommandLineParser parser;
    addOptions(parser);
    if (const auto exit = ProgramInfo::parse(parser, app.arguments(), QStringLiteral("imp40500-host")))
        return *exit;

    SignInValues values = SignInValues::fromSettings();
    values.applyEnvironment();
    values.applyCommandLine(parser);
    // The operator's language from the first window on: the sign-in's own buttons are Qt's.
    const auto operatorLocale = [&values] {
        return values.locale.trimmed().isEmpty() ? QLocale::system() : QLocale(values.locale.trimmed());
    };
    QtTranslations::install(operatorLocale());

    if (!parser.isSet(QStringLiteral("no-sign-in")) || !values.problem().isEmpty()) {
        SignInDialog dialog(values);
        if (dialog.exec() != QDialog::Accepted)
            return 1;
        const QString before = values.locale;
        values = dialog.values();
        if (values.locale != before)
            QtTranslations::install(operatorLocale());
    }
    values.saveToSettings();
    values.applyToAmbiente();
    Ambiente::instance().completeFromDatabase();

    // An empty server address runs the application server inside this process.
    registerEmbeddedServer();

    MainWindow window;
    window.show();
    if (parser.isSet(QStringLiteral("open")))
        QTimer::singleShot(0, &window, &MainWindow::openImportacaoPrato);
    if (parser.isSet(QStringLiteral("grab"))) {
        const QString file = parser.value(QStringLiteral("grab"));
        QTimer::singleShot(800, &window, [&window, file] {
            int rc = window.grab().save(file) ? 0 : 1;
            // A message box left open means something went wrong on the way: say what.
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                std::fprintf(stderr, "%s\n", qPrintable(box->text()));
                rc = 3;
            }
            QCoreApplication::exit(rc);
        });
    }
    return app.exec();
}
