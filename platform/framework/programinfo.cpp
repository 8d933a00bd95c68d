#include "programinfo.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>

#ifndef IMP_VERSION
#error "IMP_VERSION comes from the CMake project's version"
#endif

namespace ProgramInfo {

QString version()
{
    return QStringLiteral(IMP_VERSION);
}

void setUp(const QString &programName)
{
    QCoreApplication::setApplicationName(programName);
    QCoreApplication::setApplicationVersion(version());
    // The programs speak Portuguese whatever the system's language; the parser's texts come from
    // the distribution's Qt translations (qt6-translations-l10n), which the host installs anyway.
    static QTranslator *parserTexts = nullptr;
    if (!parserTexts && QCoreApplication::instance()) {
        auto *t = new QTranslator(QCoreApplication::instance());
        if (t->load(QStringLiteral("qtbase_pt_BR"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            QCoreApplication::installTranslator(t);
            parserTexts = t;
        } else {
            delete t;
        }
    }
}

void addStandardOptions(QCommandLineParser &parser)
{
    parser.addHelpOption();
    parser.addVersionOption();
}

QString helpText(const QCommandLineParser &parser, const QString &program, const QString &footer)
{
    QString text = parser.helpText();
    // Qt names the executable's path in the usage line; a command is named as it is typed.
    const QStringList args = QCoreApplication::arguments();
    if (!args.isEmpty()) {
        const qsizetype end = text.indexOf(QLatin1Char('\n'));
        const qsizetype at = text.left(end).indexOf(args.first());
        if (at >= 0)
            text.replace(at, args.first().size(), program);
    }
    if (!footer.isEmpty())
        text += QLatin1Char('\n') + footer + (footer.endsWith(QLatin1Char('\n')) ? QString() : QStringLiteral("\n"));
    return text;
}

std::optional<int> parse(QCommandLineParser &parser, const QStringList &args, const QString &program,
                         const QString &footer)
{
    if (!parser.parse(args)) {
        std::fprintf(stderr, "%s: %s\n%s\n", qPrintable(program), qPrintable(parser.errorText()),
                     qPrintable(QStringLiteral("Use %1 --help para as opções.").arg(program)));
        return kUsageExit;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()), qPrintable(version()));
        std::fflush(stdout);
        return 0;
    }
    // A windowed program's --help-all adds the toolkit's own options (-platform, -style...), which
    // Qt alone lists; it prints them and ends the process.
    if (parser.isSet(QStringLiteral("help-all")) && QCoreApplication::instance()
        && QCoreApplication::instance()->inherits("QGuiApplication"))
        parser.process(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(qPrintable(helpText(parser, program, footer)), stdout);
        std::fflush(stdout);
        return 0;
    }
    return std::nullopt;
}

} // namespace ProgramInfo
