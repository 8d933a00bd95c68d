#pragma once
// The host's main window: an MDI area for the business system's screens, the menu entry that
// opens the dish import screen from its package, and a "Janela" menu for other child windows.
#include "packageloader.h"

#include <QMainWindow>

class QMdiArea;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    QMdiArea *mdiArea() const { return m_mdiArea; }
    // Menu "Importação de Prato": loads the package when needed and calls IniProc.
    void openImportacaoPrato();
    // A blank notes window beside the screens.
    void newNotes();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void showPackageInfo();
    ImpPackageHost packageHost();

    QMdiArea *m_mdiArea;
    PackageLoader m_package;
    int m_notes = 0;
};
