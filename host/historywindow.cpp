#include "destinationreader.h"
#include "historywindow.h"

#include "ambiente.h"
#include "database.h"
#include "importhistory.h"
#include "importorigin.h"
#include "messages.h"
#include "rdmcalls.h"
#include "transport.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>
#include <QHBoxLayout>

namespace {

// The sort role holds the value a column sorts by (a time, a number), the display role its text.
constexpr int kSortRole = Qt::UserRole + 1;
// On the first column: the row's history id, whether it can be undone, and the question's words.
constexpr int kIdRole = Qt::UserRole + 2;
constexpr int kUndoableRole = Qt::UserRole + 3;
constexpr int kQuestionRole = Qt::UserRole + 4;
// Whether the server has said, since the rows were read, if that import's undo would go through.
constexpr int kCheckedRole = Qt::UserRole + 5;

// The refusals of an undo that come from the import's own state, not from the way to the server.
bool undoRefused(const QString &key)
{
    return key.startsWith(QLatin1String("Desf_"));
}

NetConnection &serverConnection(NetConnection &net)
{
    net.BeforeConnect = [](NetConnection &c) { c.settingsFrom(Ambiente::instance()); };
    return net;
}

bool askWithNoAsDefault(QWidget *parent, const QString &text)
{
    return QMessageBox::question(parent, Msg(QStringLiteral("Desf_Botao")), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No)
        == QMessageBox::Yes;
}

QStandardItem *item(const QString &text, const QVariant &sortValue = {})
{
    auto *i = new QStandardItem(text);
    i->setEditable(false);
    i->setData(sortValue.isValid() ? sortValue : QVariant(text), kSortRole);
    return i;
}

// Numbers as the operator reads them, whatever the machine's regional settings.
const QLocale &ptBR()
{
    static const QLocale locale(QLocale::Portuguese, QLocale::Brazil);
    return locale;
}

QStandardItem *number(qint64 n, const QString &text = {})
{
    QStandardItem *i = item(text.isEmpty() ? ptBR().toString(n) : text, n);
    i->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return i;
}

} // namespace

HistoryWindow::HistoryWindow(QWidget *parent)
    : QWidget(parent), m_rows(new QStandardItemModel(this)), m_sorted(new QSortFilterProxyModel(this)),
      m_view(new QTableView(this)), m_status(new QLabel(this)), m_undo(new QPushButton(u'&' + Msg(QStringLiteral("Desf_Botao")), this)),
      m_ask(askWithNoAsDefault)
{
    setObjectName(QStringLiteral("frmHistorico"));
    setWindowTitle(Msg(QStringLiteral("Hist_Titulo")));
    m_rows->setHorizontalHeaderLabels({QStringLiteral("Quando"), QStringLiteral("Tipo"), QStringLiteral("Desfazer"),
                                       QStringLiteral("Operador"), QStringLiteral("Filial"), QStringLiteral("Arquivo"),
                                       QStringLiteral("Bytes"), QStringLiteral("Resultado"), QStringLiteral("Pratos gravados"),
                                       QStringLiteral("Pratos recusados"), QStringLiteral("Linhas gravadas"),
                                       QStringLiteral("Duração (s)"), QStringLiteral("Mensagem"), QStringLiteral("SHA-256")});
    m_sorted->setSourceModel(m_rows);
    m_sorted->setSortRole(kSortRole);
    m_view->setObjectName(QStringLiteral("dbgHistorico"));
    m_view->setModel(m_sorted);
    m_view->setSortingEnabled(true);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setAlternatingRowColors(true);
    m_view->verticalHeader()->hide();
    m_view->horizontalHeader()->setStretchLastSection(true);
    // The caption says in which order the rows are.
    connect(m_view->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this, &HistoryWindow::showCount);

    auto *refreshButton = new QPushButton(QStringLiteral("&Atualizar"), this);
    refreshButton->setObjectName(QStringLiteral("sbtAtualizar"));
    connect(refreshButton, &QPushButton::clicked, this, &HistoryWindow::refresh);
    m_status->setObjectName(QStringLiteral("lblHistorico"));
    m_undo->setObjectName(QStringLiteral("sbtDesfazer"));
    m_undo->setEnabled(false);
    connect(m_undo, &QPushButton::clicked, this, &HistoryWindow::undoSelected);
    connect(m_view->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &HistoryWindow::selectionChanged);

    auto *bar = new QHBoxLayout;
    bar->addWidget(m_status, 1);
    bar->addWidget(m_undo);
    bar->addWidget(refreshButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_view);
    refresh();
}

QAbstractItemModel *HistoryWindow::model() const
{
    return m_sorted;
}

QString HistoryWindow::statusText() const
{
    return m_status->text();
}

void HistoryWindow::refresh()
{
    m_rows->removeRows(0, m_rows->rowCount());
    // A connection of its own for each reading: the process's shared connection may hold a read
    // snapshot open under a query the screens keep positioned, and would not see new imports.
    Result<QList<ImportHistory::Entry>> entries = QList<ImportHistory::Entry>();
    QString picture; // the refused dishes are named as the destination writes its codes
    const QString connection = QStringLiteral("imp40500_history_window");
    {
        auto db = Database::open(Ambiente::instance().databaseUrl, connection);
        if (!db) {
            entries = Result<QList<ImportHistory::Entry>>::fail(db.failure());
        } else {
            entries = ImportHistory::list(db.value(), {}, kLimit);
            picture = readDishPicture(db.value()).value_or(QString());
            db.value().close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    if (!entries) {
        m_count = -1; // the caption keeps the reason
        m_status->setText(entries.error());
        return;
    }
    for (const ImportHistory::Entry &e : entries.value()) {
        const QDateTime local = e.when.toLocalTime();
        QList<QStandardItem *> row(ColumnCount);
        row[When] = item(local.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")), e.when);
        // An export wrote a file from the branch; an import wrote the file's dishes into it.
        row[Kind] = item(Msg(e.kind == ImportHistory::Entry::Kind::Export ? QStringLiteral("Hist_Exportacao")
                             : e.kind == ImportHistory::Entry::Kind::Undo ? QStringLiteral("Hist_Desfazer")
                                                                          : QStringLiteral("Hist_Importacao")));
        row[Operator] = item(e.operatorCode);
        row[Branch] = item(e.branch);
        row[File] = item(e.fileName);
        row[Bytes] = e.bytes < 0 ? item(QString(), qint64(-1)) : number(e.bytes);
        row[Outcome] = item(e.ok ? QStringLiteral("Gravada") : QStringLiteral("Falhou"));
        row[DishesWritten] = number(e.dishesWritten);
        row[DishesRefused] = number(e.dishesRefused.size());
        row[DishesRefused]->setToolTip(dishCodeList(e.dishesRefused, picture));
        row[Rows] = item(ImportHistory::rowsToText(e.rows).replace(QLatin1Char('='), QLatin1Char(' ')).replace(QLatin1Char(';'), QStringLiteral(", ")));
        row[Duration] = number(e.durationMs, ptBR().toString(double(e.durationMs) / 1000.0, 'f', 1));
        row[Message] = item(e.message);
        row[Message]->setToolTip(e.messageKey);
        row[Sha256] = item(e.sha256);
        // Which imports can still be undone, and which were.
        row[Undo] = item(e.undoable               ? QStringLiteral("pode ser desfeita")
                         : !e.undoneBy.isEmpty() ? QStringLiteral("desfeita")
                                                 : QString());
        row[When]->setData(e.id, kIdRole);
        row[When]->setData(e.undoable, kUndoableRole);
        row[When]->setData(Msg(QStringLiteral("Desf_Pergunta"))
                               .arg(e.fileName.isEmpty() ? e.id : e.fileName)
                               .arg(e.dishesWritten)
                               .arg(qMax(0, e.dishesReplaced)),
                           kQuestionRole);
        if (!e.ok) {
            for (QStandardItem *i : row)
                i->setForeground(QColor(0xb0, 0x1c, 0x1c));
        }
        m_rows->appendRow(row);
    }
    m_count = int(entries->size());
    m_view->sortByColumn(When, Qt::DescendingOrder);
    showCount();
    m_view->resizeColumnsToContents();
    selectionChanged();
}

void HistoryWindow::selectionChanged()
{
    const QModelIndex current = m_view->currentIndex();
    const QModelIndex first = current.isValid() ? m_sorted->index(current.row(), When) : QModelIndex();
    if (first.isValid() && first.data(kUndoableRole).toBool() && !first.data(kCheckedRole).toBool())
        checkUndoable(first);
    m_undo->setEnabled(first.isValid() && first.data(kUndoableRole).toBool());
}

void HistoryWindow::checkUndoable(const QModelIndex &first)
{
    // Kept before-images say what an undo would restore, not whether it still may: a later import
    // or another program may have changed the dishes since. The server runs the undo's checks,
    // writing nothing, for the row the operator selects.
    NetConnection net;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const Result<QByteArray> checked = Rdm::Desfazer(serverConnection(net), first.data(kIdRole).toString(), true);
    QGuiApplication::restoreOverrideCursor();
    if (!checked && !undoRefused(checked.failure().key))
        return; // the server was not reached: the undo itself will say why, if tried
    QStandardItem *when = m_rows->itemFromIndex(m_sorted->mapToSource(first));
    when->setData(true, kCheckedRole);
    if (checked)
        return;
    when->setData(false, kUndoableRole);
    QStandardItem *undo = m_rows->item(when->row(), Undo);
    undo->setText(QStringLiteral("não pode ser desfeita"));
    undo->setData(undo->text(), kSortRole);
    undo->setToolTip(checked.error());
    m_status->setText(checked.error());
}

void HistoryWindow::undoSelected()
{
    const QModelIndex current = m_view->currentIndex();
    if (!current.isValid())
        return;
    const QModelIndex first = m_sorted->index(current.row(), When);
    if (!first.data(kUndoableRole).toBool() || !m_ask(this, first.data(kQuestionRole).toString()))
        return;
    // Through the application server, as the import went: the embedded one or the one configured.
    NetConnection net;
    serverConnection(net);
    ImportOrigin origin;
    origin.operatorCode = Ambiente::instance().Operador.left(10);
    const ImportOrigin::Scope scope(origin);
    // An import of many dishes takes seconds to undo: the window says it is at work meanwhile.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const Result<QByteArray> done = Rdm::Desfazer(net, first.data(kIdRole).toString());
    QGuiApplication::restoreOverrideCursor();
    if (!done) {
        refresh();
        m_status->setText(done.error());
        return;
    }
    const Result<UndoSummary> summary = UndoSummary::decode(done.value());
    refresh();
    m_status->setText(summary ? Msg(QStringLiteral("Desf_Feita")).arg(summary->dishesDeleted).arg(summary->dishesRestored)
                              : summary.error());
}

void HistoryWindow::showCount()
{
    if (m_count < 0)
        return;
    if (m_count == 0) {
        m_status->setText(Msg(QStringLiteral("Hist_Vazio")));
        return;
    }
    const QHeaderView *titles = m_view->horizontalHeader();
    const int column = titles->sortIndicatorSection();
    if (column == When && titles->sortIndicatorOrder() == Qt::DescendingOrder) {
        m_status->setText(Msg(QStringLiteral("Hist_Contagem")).arg(m_count));
        return;
    }
    const QString title = m_rows->headerData(column, Qt::Horizontal).toString();
    m_status->setText(Msg(QStringLiteral("Hist_ContagemOrdem")).arg(m_count).arg(title));
}
