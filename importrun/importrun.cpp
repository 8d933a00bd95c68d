#include "importrun.h"

#include "ambiente.h"
#include "appserver.h"
#include "framework.h"
#include "handlerboundary.h"
#include "importsession.h"
#include "messages.h"

#include <QCoreApplication>

namespace {

template <typename F, typename... Args>
void call(const F &hook, Args &&...args)
{
    if (hook)
        hook(std::forward<Args>(args)...);
}

} // namespace

ImportRun::ImportRun(ImportSession &session, ImportRunHooks hooks)
    : m_session(session), m_hooks(std::move(hooks))
{
    if (!m_hooks.serveEvents)
        m_hooks.serveEvents = [] { QCoreApplication::processEvents(); };
    if (!m_hooks.showInfo)
        m_hooks.showInfo = [](const QString &text) { messageSink()->showInfo(text); };
    if (!m_hooks.refreshLocalCache)
        m_hooks.refreshLocalCache = [](const QStringList &tables) {
            Ambiente::instance().AtualizaLocalCache(tables);
        };
}

QString ImportRun::successText(const QByteArray &payload)
{
    QString text = Msg(QStringLiteral("ImportaOk"));
    const Result<ImportSummary> summary = ImportSummary::decode(payload);
    if (!summary.ok())
        return text;
    const int written = summary->dishesWritten;
    const int refused = int(summary->dishesNotWritten.size());
    const QString key = QStringLiteral("ImportaResumo");
    const QString line = TMessages::instance().contains(key)
                             ? Msg(key).arg(written).arg(refused)
                             : QStringLiteral("Pratos gravados: %1. Não gravados por conterem erros: %2.")
                                   .arg(written)
                                   .arg(refused);
    return text + u'\n' + line;
}

void ImportRun::sbtImportExportClick()
{
    // Nothing is checked before sending: what may be imported is decided by when the button is
    // enabled, and the server decides about dishes with errors and unpaired services. The button
    // goes off first and stays off; a new import needs a new load.
    call(m_hooks.disableImportButton);
    if (m_hooks.errorPanelShowing && m_hooks.errorPanelShowing())
        call(m_hooks.lsbErroExit);
    call(m_hooks.setFiltroEnabled, false);

    QByteArray payload;
    try {
        ActiveShowAvi(6);
        call(m_hooks.setStatusText, Msg(QStringLiteral("Import")));
        if (m_hooks.cdFilial)
            m_session.CdFilial = m_hooks.cdFilial();
        payload = CheckResultServ(m_session.callImportacao(), true, 0);
        m_hooks.refreshLocalCache({QStringLiteral("PRATO")});
        DeactiveShowAvi();
    } catch (...) {
        // The cleanup of every way out of the call; the failure then goes on, shown once.
        DeactiveShowAvi();
        call(m_hooks.setProgress, 0);
        call(m_hooks.setStatusText, QString());
        call(m_hooks.setFiltroEnabled, true);
        call(m_hooks.repaint);
        try {
            throw;
        } catch (const AbandonedAction &) {
            throw;
        } catch (const std::exception &e) {
            MensErro(QString::fromUtf8(e.what()));
        } catch (...) {
            MensErro(QStringLiteral("Erro inesperado."));
        }
    }

    call(m_hooks.setProgress, 0);
    call(m_hooks.setStatusText, QString());
    m_hooks.serveEvents();
    call(m_hooks.setFiltroEnabled, true);
    call(m_hooks.repaint);
    m_hooks.showInfo(successText(payload));
}

bool ImportRun::click() noexcept
{
    return runAction([this] { sbtImportExportClick(); });
}
