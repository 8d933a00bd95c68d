#include "dialogs.h"
#include "helpviewer.h"
#include "screenhost.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

Dialogs::~Dialogs() = default;

namespace {

const QString kTitle = QStringLiteral("Atenção");

class QtDialogs final : public Dialogs {
public:
    void showError(const QString &text) override
    {
        QMessageBox::critical(dialogParent(), kTitle, text);
    }

    void showInfo(const QString &text) override
    {
        QMessageBox::information(dialogParent(), kTitle, text);
    }

    bool question(const QString &text) override
    {
        // The answer that changes nothing is the default: Enter does not import a file twice.
        QMessageBox box(QMessageBox::Question, kTitle, text, QMessageBox::Yes | QMessageBox::No, dialogParent());
        box.button(QMessageBox::Yes)->setText(QStringLiteral("Sim"));
        box.button(QMessageBox::No)->setText(QStringLiteral("Não"));
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    }

    int pesquisar(QAbstractItemModel *rows, const QString &title) override
    {
        QDialog dlg(dialogParent());
        dlg.setWindowTitle(title);
        auto *view = new QTableView(&dlg);
        view->setModel(rows);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->verticalHeader()->hide();
        view->horizontalHeader()->setStretchLastSection(true);
        view->resizeColumnsToContents();
        if (rows->rowCount() > 0)
            view->selectRow(0);
        auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
        QObject::connect(view, &QAbstractItemView::doubleClicked, &dlg, &QDialog::accept);
        auto *layout = new QVBoxLayout(&dlg);
        layout->addWidget(view);
        layout->addWidget(buttons);
        dlg.resize(420, 300);
        if (dlg.exec() != QDialog::Accepted)
            return -1;
        const QModelIndex current = view->currentIndex();
        return current.isValid() ? current.row() : -1;
    }

    QString getOpenFileName(const QString &title, const QString &directory,
                            const QString &filter, const QString &defaultSuffix) override
    {
        return runFileDialog(QFileDialog::AcceptOpen, title, directory, filter, defaultSuffix);
    }

    QString getSaveFileName(const QString &title, const QString &directory,
                            const QString &filter, const QString &defaultSuffix) override
    {
        // A file that exists is confirmed by the dialog itself.
        return runFileDialog(QFileDialog::AcceptSave, title, directory, filter, defaultSuffix);
    }

    static QString runFileDialog(QFileDialog::AcceptMode mode, const QString &title, const QString &directory,
                                 const QString &filter, const QString &defaultSuffix)
    {
        QFileDialog dlg(dialogParent(), title, directory);
        // Qt's own dialog, not the desktop's: it speaks the host's language (the translations the
        // host loaded) and behaves the same on every desktop.
        dlg.setOption(QFileDialog::DontUseNativeDialog);
        dlg.setAcceptMode(mode);
        dlg.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        QStringList filters = filter.split(QStringLiteral(";;"), Qt::SkipEmptyParts);
        filters << allFilesFilter();
        dlg.setNameFilters(filters);
        dlg.setDefaultSuffix(defaultSuffix);
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return QString();
        return dlg.selectedFiles().constFirst();
    }

    void showHelp(const QString &helpFile, int helpContext, const QStringList &fields) override
    {
        // The help ships inside the program: the context names a page, the fields a section.
        HelpViewer::open(helpFile, helpContext, fields);
    }
};

QtDialogs g_qtDialogs;
Dialogs *g_dialogs = &g_qtDialogs;

class DialogsMessageSink final : public MessageSink {
public:
    // A message ends whatever the busy indicator was covering: it goes before the box comes up,
    // or it would sit over the box (and over the window the box returns to) until the handler
    // unwinds.
    void showError(const QString &text) override
    {
        concealBusyIndicator();
        dialogs()->showError(text);
    }
    void showInfo(const QString &text) override
    {
        concealBusyIndicator();
        dialogs()->showInfo(text);
    }
};

DialogsMessageSink g_boxSink;
MessageSink *g_sinkBefore = nullptr;
bool g_boxesInstalled = false;

} // namespace

Dialogs *dialogs()
{
    return g_dialogs;
}

Dialogs *setDialogs(Dialogs *d)
{
    Dialogs *previous = g_dialogs;
    g_dialogs = d ? d : &g_qtDialogs;
    return previous;
}

QWidget *dialogParent()
{
    if (QWidget *w = QApplication::activeWindow())
        return w;
    return screenHost().mainWindow.data();
}

void installMessageBoxes()
{
    if (g_boxesInstalled)
        return;
    g_sinkBefore = setMessageSink(&g_boxSink);
    g_boxesInstalled = true;
}

QString allFilesFilter()
{
    return QStringLiteral("Todos os arquivos (*)");
}

void uninstallMessageBoxes()
{
    if (!g_boxesInstalled)
        return;
    setMessageSink(g_sinkBefore);
    g_sinkBefore = nullptr;
    g_boxesInstalled = false;
}
