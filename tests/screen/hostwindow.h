#pragma once
// What every screen test stands on: the demo operator signed in, and a host main window with its MDI
// area, shown, active and lent to the package.
#include "ambiente.h"
#include "frmimpoprato.h"
#include "screenhost.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>

// Operator ADMIN of branch 0001, any branch allowed, the server in this process.
inline void signInDemoOperator()
{
    Ambiente &amb = Ambiente::instance();
    amb.FiliProc = QStringLiteral("0001");
    amb.NomeFiliProc = QStringLiteral("RESTAURANTE MATRIZ");
    amb.Operador = QStringLiteral("ADMIN");
    amb.ModuFili = false;
    amb.WebURL.clear();
    amb.WebPort = 0;
}

// A main window with an MDI area; false when it did not become active.
inline bool openHostWindow(QMainWindow *&main, QMdiArea *&area)
{
    main = new QMainWindow;
    area = new QMdiArea(main);
    main->setCentralWidget(area);
    main->resize(1000, 640);
    main->show();
    main->activateWindow();
    if (!QTest::qWaitForWindowActive(main))
        return false;
    setScreenHost(main, area);
    return true;
}

// Frees the screen, also in the middle of a load.
inline void closeScreenNow()
{
    if (boIdCriado && frmImpoPrato) {
        frmImpoPrato->session().Carregando = false;
        delete frmImpoPrato->subWindow();
    }
    boIdCriado = false;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Frees the screen and the host window.
inline void closeScreenAndHost(QMainWindow *&main)
{
    closeScreenNow();
    clearScreenHost();
    delete main;
    main = nullptr;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
