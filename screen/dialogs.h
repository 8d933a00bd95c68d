#pragma once
// Every modal dialog of the screens goes through this interface: message boxes, the lookup list,
// the open-file dialog and the help. The default shows Qt dialogs; tests and unattended runs
// install ScriptedDialogs, which answers without a modal loop.
#include "framework.h"

#include <QString>
#include <QStringList>

#include <memory>

class QAbstractItemModel;
class QFileDialog;
class QWidget;

class Dialogs {
public:
    virtual ~Dialogs();
    virtual void showError(const QString &text) = 0;
    virtual void showInfo(const QString &text) = 0;
    // A modal list of the model's rows under the title. Returns the chosen row, -1 when the
    // person cancelled.
    virtual int pesquisar(QAbstractItemModel *rows, const QString &title) = 0;
    // The chosen file's full name; empty when cancelled. `filter` in Qt's form ("Text (*.txt)");
    // `defaultSuffix` ("txt") is added to a typed name that has none.
    virtual QString getOpenFileName(const QString &title, const QString &directory,
                                    const QString &filter, const QString &defaultSuffix) = 0;
    // A question with the buttons Sim and Não; true for Sim. Não is the default button, so Enter
    // does not say yes.
    virtual bool question(const QString &text) = 0;
    // The name to save a file under; empty when cancelled. A file that exists is confirmed by the
    // dialog. `filter` and `defaultSuffix` as for getOpenFileName.
    virtual QString getSaveFileName(const QString &title, const QString &directory,
                                    const QString &filter, const QString &defaultSuffix) = 0;
    // The help of a screen: its help file and context, and the objects the person was at when
    // asking (the focused control first, then its containers), so the help can open at the
    // section about them.
    virtual void showHelp(const QString &helpFile, int helpContext, const QStringList &fields) = 0;
};

// The dialogs in use (never null). setDialogs does not take ownership; nullptr puts the Qt
// dialogs back. Returns the previous one.
Dialogs *dialogs();
Dialogs *setDialogs(Dialogs *d);

// The window that modal dialogs are parented to: the active window, else the host's main window.
QWidget *dialogParent();

// MensErro's message boxes: a MessageSink that hands the text to dialogs(). installMessageBoxes()
// makes it the process's sink (the package does this on load; the command line keeps stderr).
void installMessageBoxes();
void uninstallMessageBoxes();

// The Qt file dialog the screens show (open or save), on `directory` (a file's name: its folder).
// It lists files without reading them: a file's type and icon come from its name.
std::unique_ptr<QFileDialog> newFileDialog(bool save, const QString &title, const QString &directory,
                                           const QString &filter, const QString &defaultSuffix);

// The filter entry every open dialog ends with, so a file named otherwise can still be picked.
QString allFilesFilter();
