#include "interruption.h"

#include "messages.h"
#include "stoprequest.h"
#include "rowwriter.h"

#include <QSqlDatabase>
#include <sqlite3.h>

#include <atomic>

#include <QByteArray>
#include <chrono>
#include <cstdio>
#include <thread>

namespace RdmMethods {

void pausePoint(const char *name)
{
    static const QByteArray at = qgetenv("IMP_SERVER_PAUSE_AT");
    if (at.isEmpty() || at != name)
        return;
    static const int seconds = qEnvironmentVariableIsSet("IMP_SERVER_PAUSE_SECONDS")
        ? qBound(0, qEnvironmentVariableIntValue("IMP_SERVER_PAUSE_SECONDS"), 600)
        : 60;
    std::fprintf(stderr, "imp40500-server: pausa em %s\n", name);
    std::fflush(stderr);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
}

Status stopPoint()
{
    if (!StopRequest::process().requested())
        return okStatus();
    return Status::fail(Msg(QStringLiteral("Imp_Interrompida")), QStringLiteral("Imp_Interrompida"));
}

} // namespace RdmMethods

namespace RdmMethods {

namespace {
ImportProgress &progressHooks()
{
    static ImportProgress hooks;
    return hooks;
}
} // namespace

void setImportProgress(ImportProgress progress)
{
    progressHooks() = std::move(progress);
}

const ImportProgress &importProgress()
{
    return progressHooks();
}

} // namespace RdmMethods

namespace RdmMethods {

namespace {
constexpr int kWaitMs = 30000; // as Database::open sets the connection's busy timeout
std::atomic<int> g_sharedWaitMs{-1}; // what is left of a wait the process shares; -1: none

int waitLimitMs()
{
    const int shared = g_sharedWaitMs.load();
    return shared >= 0 ? shared : kWaitMs;
}
} // namespace

void shareWriterWait(int ms)
{
    g_sharedWaitMs = ms;
}

WriterWait::WriterWait(QSqlDatabase &db) : m_db(Rows::sqliteHandle(db))
{
    if (!m_db)
        return;
    m_clock.start();
    sqlite3_busy_handler(m_db, &WriterWait::busy, this);
}

WriterWait::~WriterWait()
{
    if (!m_db)
        return;
    sqlite3_busy_timeout(m_db, kWaitMs);
    if (m_told != -1 && g_sharedWaitMs.load() >= 0)
        g_sharedWaitMs = qMax(0, g_sharedWaitMs.load() - int(m_clock.elapsed()));
}

int WriterWait::busy(void *self, int)
{
    auto *w = static_cast<WriterWait *>(self);
    if (w->m_told < 0) {
        w->m_clock.restart(); // the wait begins with the first refusal, not with the call
        w->m_told = -2;
    }
    if (w->m_clock.elapsed() >= waitLimitMs())
        return 0;
    sqlite3_sleep(50);
    const int seconds = int(w->m_clock.elapsed() / 1000);
    const ImportProgress &progress = importProgress();
    if (seconds != w->m_told && progress.waiting)
        progress.waiting(seconds);
    w->m_told = seconds;
    return 1;
}

} // namespace RdmMethods
