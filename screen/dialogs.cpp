#include "dialogs.h"
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
                            const QString &filter) override
    {
        return QFileDialog::getOpenFileName(dialogParent(), title, directory, filter);
    }

    void showHelp(const QString &helpFile, int helpContext) override
    {
        // The business system's help is a WinHelp file that has no viewer here; say which topic
        // the person asked for, so the help desk can find it.
        QMessageBox::information(dialogParent(), QStringLiteral("Ajuda"),
                                 QStringLiteral("Ajuda: %1, tópico %2.").arg(helpFile).arg(helpContext));
    }
};

QtDialogs g_qtDialogs;
Dialogs *g_dialogs = &g_qtDialogs;

class DialogsMessageSink final : public MessageSink {
public:
    void showError(const QString &text) override { dialogs()->showError(text); }
    void showInfo(const QString &text) override { dialogs()->showInfo(text); }
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

void uninstallMessageBoxes()
{
    if (!g_boxesInstalled)
        return;
    setMessageSink(g_sinkBefore);
    g_sinkBefore = nullptr;
    g_boxesInstalled = false;
}
