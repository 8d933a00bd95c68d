#pragma once
// The host's main window: an MDI area for the business system's screens, the menu entry that
// opens the dish import screen from its package, and a "Janela" menu for other child windows.
#include "packageloader.h"

#include <QIcon>
#include <QMainWindow>

class QMdiArea;
class QMdiSubWindow;
class HistoryWindow;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    QMdiArea *mdiArea() const { return m_mdiArea; }
    // Menu "Importação de Prato": loads the package when needed and calls IniProc.
    void openImportacaoPrato();
    // Menu "Exportação de Prato": the sibling screen that writes the export file, same package.
    void openExportacaoPrato();
    // Menu "Histórico de importações": the destination's import history in a child window (the one
    // already open is brought forward and read again).
    HistoryWindow *openHistory();
    // A blank notes window beside the screens.
    void newNotes();
    // "Ajuda da tela": the help of the active screen, at the control that has the focus. False
    // when no screen with a help is active.
    bool showScreenHelp();
    // "Sobre": the program's version and build, the database and the application server in use.
    QString aboutText() const;
    // The program's icon: the main window's and its child windows'.
    static QIcon hostIcon();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // A child window of the host at the size it wants, inside the workspace.
    void placeInside(QMdiSubWindow *sub, QSize wanted);
    // Every child window moved back inside the workspace where it sticks out (after an arrangement).
    void keepInside();
    void showPackageInfo();
    void showAbout();
    ImpPackageHost packageHost();

    QMdiArea *m_mdiArea;
    PackageLoader m_package;
    int m_notes = 0;
};
