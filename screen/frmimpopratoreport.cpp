// What the screen tells about a load beyond the grids: the errors of its dishes as a CSV file, an
// Excel workbook or on the clipboard (the dish grid's context menu), what its import would change
// (the status line), and the way out of a long load (Escape).
#include "frmimpoprato.h"

#include "ambiente.h"
#include "dialogs.h"
#include "dishgrid.h"
#include "errorcsv.h"
#include "errorxlsx.h"
#include "framework.h"
#include "handlerboundary.h"
#include "importpreview.h"
#include "messages.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>

void TfrmImpoPrato::buildErrorMenu()
{
    actExportarErros = new QAction(Msg(QStringLiteral("Erros_Exportar")), dbgPrato);
    actExportarErros->setObjectName(QStringLiteral("actExportarErros"));
    actCopiarErros = new QAction(Msg(QStringLiteral("Erros_Copiar")), dbgPrato);
    actCopiarErros->setObjectName(QStringLiteral("actCopiarErros"));
    dbgPrato->addAction(actExportarErros);
    dbgPrato->addAction(actCopiarErros);
    dbgPrato->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(actExportarErros, &QAction::triggered, this, [this] {
        runAction([this] { actExportarErrosClick(actExportarErros); });
    });
    connect(actCopiarErros, &QAction::triggered, this, [this] {
        runAction([this] { actCopiarErrosClick(actCopiarErros); });
    });
}

void TfrmImpoPrato::actExportarErrosClick(QObject *)
{
    if (!ErrorCsv::anyErrors(m_session)) {
        messageSink()->showInfo(Msg(QStringLiteral("Erros_Nenhum")));
        return;
    }
    // Offered beside the export file, under its name: whoever exported it gets both back.
    const QFileInfo source(m_session.NmArquivo);
    const QString suggested = QDir(source.absolutePath()).filePath(source.completeBaseName() + QStringLiteral("-erros.csv"));
    const QString path = dialogs()->getSaveFileName(Msg(QStringLiteral("Erros_Titulo")), suggested,
                                                    Msg(QStringLiteral("Erros_Filtro")), QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    // The name's suffix picks the format the operator chose in the dialog: a workbook keeps the
    // dish codes as text, which a CSV opened in a pt_BR spreadsheet does not.
    const QString picture = Ambiente::instance().DBPict(1);
    const bool workbook = QFileInfo(path).suffix().compare(QLatin1String("xlsx"), Qt::CaseInsensitive) == 0;
    const Status written = workbook ? ErrorXlsx::write(m_session, picture, path) : ErrorCsv::write(m_session, picture, path);
    if (!written)
        showFailure(written.failure());
    // Done quietly, it would leave the operator wondering whether anything happened.
    const qsizetype errors = ErrorCsv::rows(m_session, picture).size();
    setStatusText(Msg(QStringLiteral("Erros_Gravado")).arg(QDir::toNativeSeparators(path)).arg(errors));
}

void TfrmImpoPrato::actCopiarErrosClick(QObject *)
{
    if (!ErrorCsv::anyErrors(m_session)) {
        messageSink()->showInfo(Msg(QStringLiteral("Erros_Nenhum")));
        return;
    }
    // The same rows as the file, without its byte-order mark: pasted into a sheet they split at
    // the separator, pasted into a message they read as they are.
    const QByteArray rows = ErrorCsv::text(m_session, Ambiente::instance().DBPict(1), false);
    QGuiApplication::clipboard()->setText(QString::fromUtf8(rows));
    setStatusText(Msg(QStringLiteral("Erros_Copiados")).arg(ErrorCsv::rows(m_session, Ambiente::instance().DBPict(1)).size()));
}

void TfrmImpoPrato::cancelLoadQuestion()
{
    StopRequest &stop = m_session.stopRequest();
    if (stop.requested())
        return; // already asked and answered: the pass is on its way out
    if (dialogs()->question(Msg(QStringLiteral("Carga_Cancelar"))) && m_session.Carregando)
        stop.request();
}

void TfrmImpoPrato::showPreview()
{
    const Result<ImportPreview> preview = ImportPreview::ask(m_session);
    if (!preview) {
        reportFailureDetail(preview.failure());
        return;
    }
    const QString before = statusText();
    setStatusText(before.isEmpty() ? preview->totalsText() : before + QStringLiteral("  ") + preview->totalsText());
}
