#include "screenhost.h"
#include "busyoverlay.h"

#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>

#include <memory>

namespace {
ScreenHost g_host;
QPointer<BusyOverlay> g_busy;
} // namespace

const ScreenHost &screenHost()
{
    return g_host;
}

void setScreenHost(QMainWindow *mainWindow, QMdiArea *mdiArea)
{
    clearScreenHost();
    g_host.mainWindow = mainWindow;
    g_host.mdiArea = mdiArea;
    if (mainWindow) {
        // Child of the main window: it goes with it, and setBusyIndicator is undone in its
        // destructor.
        g_busy = new BusyOverlay(mainWindow);
        setBusyIndicator(g_busy);
    }
}

void clearScreenHost()
{
    if (g_busy) {
        setBusyIndicator(nullptr);
        delete g_busy;
    }
    g_host = ScreenHost{};
}

QMdiSubWindow *addToHost(QWidget *screen)
{
    if (!g_host.mdiArea)
        MensErro(QStringLiteral("A aplicação não informou a janela principal."));
    QMdiSubWindow *sub = g_host.mdiArea->addSubWindow(screen);
    return sub;
}

void concealBusyIndicator()
{
    if (g_busy)
        g_busy->conceal();
}

bool busyIndicatorShowing()
{
    return g_busy && g_busy->isVisible();
}
