#include "dialogs.h"
#include "filelistlocale.h"
#include "helpviewer.h"
#include "screenhost.h"

#include <QAbstractFileIconProvider>
#include <QAbstractItemModel>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QMainWindow>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPushButton>
#include <QStyle>
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
        const std::unique_ptr<QFileDialog> dlg =
            newFileDialog(mode == QFileDialog::AcceptSave, title, directory, filter, defaultSuffix);
        if (dlg->exec() != QDialog::Accepted || dlg->selectedFiles().isEmpty())
            return QString();
        return dlg->selectedFiles().constFirst();
    }

    void showHelp(const QString &helpFile, int helpContext, const QStringList &fields) override
    {
        // The help ships inside the program: the context names a page, the fields a section.
        HelpViewer::open(helpFile, helpContext, fields);
    }
};

QtDialogs g_qtDialogs;

// The file dialogs' icons and types, from the names alone. Qt's own provider reads the first bytes
// of every file it lists to guess its type: in the destination's folder that opens the database,
// its -wal and its -shm, and the close that follows drops every POSIX lock this process holds on
// them, so that another program takes the database for unused and deletes the WAL under it.
class NameOnlyIconProvider final : public QAbstractFileIconProvider {
public:
    QIcon icon(IconType type) const override
    {
        QStyle *style = QApplication::style();
        switch (type) {
        case Computer: return style->standardIcon(QStyle::SP_ComputerIcon);
        case Desktop: return style->standardIcon(QStyle::SP_DesktopIcon);
        case Trashcan: return style->standardIcon(QStyle::SP_TrashIcon);
        case Network: return style->standardIcon(QStyle::SP_DriveNetIcon);
        case Drive: return style->standardIcon(QStyle::SP_DriveHDIcon);
        case Folder: return style->standardIcon(QStyle::SP_DirIcon);
        case File: break;
        }
        return style->standardIcon(QStyle::SP_FileIcon);
    }

    QIcon icon(const QFileInfo &info) const override
    {
        if (info.isRoot())
            return icon(Drive);
        return icon(info.isDir() ? Folder : File);
    }

    QString type(const QFileInfo &info) const override
    {
        if (info.isRoot())
            return QStringLiteral("Unidade");
        if (info.isDir())
            return QStringLiteral("Pasta");
        // By the name only: MatchExtension never opens the file.
        const QMimeType mime = m_mimes.mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
        if (mime.isDefault())
            return info.suffix().isEmpty() ? QStringLiteral("Arquivo")
                                           : QStringLiteral("Arquivo %1").arg(info.suffix().toUpper());
        return mime.comment().isEmpty() ? mime.name() : mime.comment();
    }

private:
    QMimeDatabase m_mimes;
};

NameOnlyIconProvider g_nameOnlyIcons;
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

std::unique_ptr<QFileDialog> newFileDialog(bool save, const QString &title, const QString &directory,
                                           const QString &filter, const QString &defaultSuffix)
{
    // Made on the root first: a dialog lists its first folder as it is made, with Qt's provider,
    // before ours is in place; the root holds no database. Then the folder asked for (an empty
    // one: the current directory, never Qt's remembered last folder, which is read the same way).
    auto dlg = std::make_unique<QFileDialog>(dialogParent(), title, QDir::rootPath());
    dlg->setIconProvider(&g_nameOnlyIcons);
    // Qt's own dialog, not the desktop's: it speaks the host's language (the translations the host
    // loaded), behaves the same on every desktop, and lists files with the provider above.
    dlg->setOption(QFileDialog::DontUseNativeDialog);
    showInOperatorsLocale(*dlg);
    dlg->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dlg->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    QStringList filters = filter.split(QStringLiteral(";;"), Qt::SkipEmptyParts);
    filters << allFilesFilter();
    dlg->setNameFilters(filters);
    dlg->setDefaultSuffix(defaultSuffix);
    const QFileInfo where(directory.isEmpty() ? QDir::currentPath() : directory);
    if (where.isDir()) {
        dlg->setDirectory(where.absoluteFilePath());
    } else {
        // A file's name: its folder, with the name proposed.
        const QFileInfo folder(where.absolutePath());
        dlg->setDirectory(folder.isDir() ? folder.absoluteFilePath() : QDir::currentPath());
        dlg->selectFile(where.fileName());
    }
    return dlg;
}

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
