#pragma once
// The import (sbtImportExportClick): everything the load pass put into the session's tables goes to
// the application server in one call of Importacao; the client's cache of PRATO is refreshed and
// the operator is told the result. The screen supplies what the import touches on it as hooks.
#include <QByteArray>
#include <QString>
#include <functional>

class ImportSession;

struct ImportRunHooks {
    std::function<void()> disableImportButton;        // sbtImportExport disabled
    std::function<bool()> errorPanelShowing;          // panErro is showing
    std::function<void()> lsbErroExit;                // closes panErro, focus on dbgPrato
    std::function<void(bool)> setFiltroEnabled;       // SetChildEnabled(panFiltro, …)
    std::function<void(const QString &)> setStatusText; // status text of panProgresso
    std::function<void(int)> setProgress;             // pgbProgresso position
    std::function<void()> repaint;                    // repaints the screen
    std::function<QString()> cdFilial;                // the text of medCdFilial
    // Defaults: QCoreApplication::processEvents once; the message sink's information box;
    // Ambiente::AtualizaLocalCache.
    std::function<void()> serveEvents;
    std::function<void(const QString &)> showInfo;
    std::function<void(const QStringList &)> refreshLocalCache;
};

class ImportRun {
public:
    ImportRun(ImportSession &session, ImportRunHooks hooks);

    // The import in its steps. A failure is shown (MensErro, the result check) and passes on as
    // AbandonedAction after the cleanup; the import button stays disabled either way.
    void sbtImportExportClick();
    // The click handler's boundary: runs the import, keeps any exception out of the event loop.
    // True when the import went through.
    bool click() noexcept;

    // "A importação foi realizada com sucesso." and, on a second line, the server's summary: the
    // dishes written and those not written because they carry errors. Without a readable summary
    // only the first line.
    static QString successText(const QByteArray &payload);

private:
    ImportSession &m_session;
    ImportRunHooks m_hooks;
};
