#include "dishgrid.h"
#include "handlerboundary.h"

#include "ambiente.h"
#include "dishpictures.h"
#include "dishflags.h"
#include "framework.h"
#include "memtable.h"
#include "memtablemodel.h"

#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPainter>

namespace {

const QString kIdErro = QStringLiteral("IDERRO");

// Heads each column with the grid's title for its field. The titles are the grid's, not the
// table's: the header asks the field of the section and draws the title in place of its name.
class DishGridHeader : public QHeaderView {
public:
    using QHeaderView::QHeaderView;

protected:
    void initStyleOptionForIndex(QStyleOptionHeader *option, int logicalIndex) const override
    {
        QHeaderView::initStyleOptionForIndex(option, logicalIndex);
        option->text = TDishGrid::columnTitle(model(), logicalIndex);
    }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// DishGridDelegate

DishGridDelegate::DishGridDelegate(QObject *parent) : QStyledItemDelegate(parent)
{
    setPictures(DishPictures::certo(), DishPictures::erro());
}

void DishGridDelegate::setPictures(const QImage &certo, const QImage &erro)
{
    m_certo = DishPictures::withOliveTransparent(certo);
    m_erro = DishPictures::withOliveTransparent(erro);
}

void DishGridDelegate::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    // A field with an edit mask (the dish code) is shown through it, as its edit would show it.
    const QString mask = index.data(MemTableModel::EditMaskRole).toString();
    if (!mask.isEmpty() && (option->features & QStyleOptionViewItem::HasDisplay)) {
        const QString code = AllTrim(option->text);
        const QString shown = formatThroughPicture(code, mask);
        if (shown != code)
            option->text = shown;
    }
}

void DishGridDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    dbgPratoDrawColumnCell(painter, option, index);
}

void DishGridDelegate::dbgPratoDrawColumnCell(QPainter *painter, const QStyleOptionViewItem &option,
                                              const QModelIndex &index) const
{
    const QAbstractItemModel *model = index.model();
    if (!model || model->rowCount(index.parent()) == 0)
        return;
    // The field's name exactly as the table declares it: another column named alike is text.
    if (index.data(MemTableModel::FieldNameRole).toString() != kIdErro)
        return;

    const QPixmap &picture =
        DishFlags::hasErrors(index.data(MemTableModel::RawValueRole).toString()) ? m_erro : m_certo;

    // The brush the grid drew the cell's background with: the selection colour on the selected
    // row, the grid's own colour (or the cell's, when the model gives one) elsewhere.
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (opt.state & QStyle::State_Active) ? QPalette::Active
                                                                             : QPalette::Inactive;
    QBrush brush;
    if (opt.state & QStyle::State_Selected)
        brush = opt.palette.brush(group, QPalette::Highlight);
    else if (opt.backgroundBrush.style() != Qt::NoBrush)
        brush = opt.backgroundBrush;
    else
        brush = opt.palette.brush(group, QPalette::Base);

    painter->save();
    painter->setClipRect(opt.rect, Qt::IntersectClip);
    // The fill also wipes out the flags' text drawn by the default drawing.
    painter->fillRect(opt.rect, brush);
    // The picture at its own size, 4 pixels in from the cell's left edge and at its top; a picture
    // taller than the row loses its bottom rows, it is never scaled to fit.
    const int height = qMin(picture.height(), opt.rect.height());
    if (height > 0)
        painter->drawPixmap(QPoint(opt.rect.left() + 4, opt.rect.top()), picture,
                            QRect(0, 0, picture.width(), height));
    painter->restore();
}

// ---------------------------------------------------------------------------------------------
// TDishGrid

const QList<DishGridColumn> &TDishGrid::columns()
{
    static const QList<DishGridColumn> cols = {
        {u"IDERRO", u"Ok", 30},
        {u"CDPRATO", u"Código", 73},
        {u"NMPRATO", u"Nome", 309},
        {u"CDFILAUXPRAT", u"Árvore", 44},
    };
    return cols;
}

QStringList TDishGrid::fieldNames()
{
    QStringList names;
    for (const DishGridColumn &c : columns())
        names << QString::fromUtf16(c.field);
    return names;
}

QString TDishGrid::fieldOfColumn(const QAbstractItemModel *model, int column)
{
    if (!model || column < 0 || column >= model->columnCount())
        return QString();
    return model->headerData(column, Qt::Horizontal, MemTableModel::FieldNameRole).toString();
}

QString TDishGrid::columnTitle(const QAbstractItemModel *model, int column)
{
    const QString field = fieldOfColumn(model, column);
    for (const DishGridColumn &c : columns()) {
        if (field.compare(QStringView(c.field), Qt::CaseInsensitive) == 0)
            return QString::fromUtf16(c.title);
    }
    return model ? model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString() : QString();
}

TDishGrid::TDishGrid(QWidget *parent) : QTableView(parent), m_delegate(new DishGridDelegate(this))
{
    setItemDelegate(m_delegate);
    setHorizontalHeader(new DishGridHeader(Qt::Horizontal, this));

    // Nothing is edited here: a click selects the whole dish, and the selection stays visible
    // while the focus is elsewhere (on the error list, for one).
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Tab walks the cells instead of leaving the grid.
    setTabKeyNavigation(true);
    setShowGrid(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setFrameShape(QFrame::NoFrame);

    QPalette pal = palette();
    const QColor infoBk = pal.color(QPalette::Active, QPalette::ToolTipBase);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::Base, infoBk);
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(pal);

    // No row indicator. Rows keep one height: the load pass adds hundreds of thousands of them.
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(18);

    // The business system's 8-point dialog face, for the cells as for the titles; where it is
    // missing, the desktop's sans serif at that size. Text too wide for its column is cut, as the
    // narrow tree column needs ("Padrão" in 44 pixels), rather than shortened with an ellipsis.
    QFont face = font();
    face.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif")});
    face.setStyleHint(QFont::SansSerif);
    face.setPointSize(8);
    face.setWeight(QFont::Normal);
    setFont(face);
    setTextElideMode(Qt::ElideNone);

    QHeaderView *titles = horizontalHeader();
    titles->setSectionsMovable(false);
    titles->setSectionResizeMode(QHeaderView::Interactive);
    titles->setHighlightSections(false);
    titles->setStretchLastSection(false);
    titles->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    titles->setFont(face);
}

TDishGrid::~TDishGrid() = default;

void TDishGrid::setModel(QAbstractItemModel *model)
{
    for (const QMetaObject::Connection &c : std::as_const(m_modelConnections))
        disconnect(c);
    m_modelConnections.clear();
    QTableView::setModel(model);
    if (model) {
        // After the view's own connections, so the header has its new sections when the columns
        // are laid out.
        m_modelConnections << connect(model, &QAbstractItemModel::modelReset, this, &TDishGrid::applyColumns)
                           << connect(model, &QAbstractItemModel::layoutChanged, this, &TDishGrid::applyColumns)
                           << connect(model, &QAbstractItemModel::columnsInserted, this, &TDishGrid::applyColumns)
                           << connect(model, &QAbstractItemModel::columnsRemoved, this, &TDishGrid::applyColumns)
                           << connect(model, &QAbstractItemModel::headerDataChanged, this, &TDishGrid::applyColumns);
        // The table's current row moves with every insert of the load pass; the grid catches up
        // once the events are served, not once per row.
        m_modelConnections << connect(model, &QAbstractItemModel::modelReset, this, &TDishGrid::scheduleFollow)
                           << connect(model, &QAbstractItemModel::rowsInserted, this, &TDishGrid::scheduleFollow)
                           << connect(model, &QAbstractItemModel::rowsRemoved, this, &TDishGrid::scheduleFollow)
                           << connect(model, &QAbstractItemModel::dataChanged, this,
                                      [this](const QModelIndex &, const QModelIndex &, const QList<int> &roles) {
                                          if (roles.contains(MemTableModel::IsCurrentRowRole))
                                              scheduleFollow();
                                      });
    }
    applyColumns();
    scheduleFollow();
}

void TDishGrid::setDataSet(MemTable *table)
{
    m_table = table;
    scheduleFollow();
}

MemTable *TDishGrid::dataSet() const
{
    return m_table;
}

DishGridDelegate *TDishGrid::dishDelegate() const
{
    return m_delegate;
}

void TDishGrid::applyColumns()
{
    QHeaderView *header = horizontalHeader();
    const QAbstractItemModel *m = model();
    const int count = m ? m->columnCount() : 0;
    const QList<DishGridColumn> &cols = columns();
    QList<int> logicalOf(cols.size(), -1);
    for (int section = 0; section < count; ++section) {
        const QString field = fieldOfColumn(m, section);
        qsizetype which = -1;
        for (qsizetype i = 0; i < cols.size(); ++i) {
            if (field.compare(QStringView(cols[i].field), Qt::CaseInsensitive) == 0) {
                which = i;
                break;
            }
        }
        setColumnHidden(section, which < 0);
        if (which >= 0) {
            logicalOf[which] = section;
            header->resizeSection(section, cols[which].width);
        }
    }
    // Left to right in the grid's order, whatever order the model has them in.
    int visual = 0;
    for (int logical : std::as_const(logicalOf)) {
        if (logical < 0)
            continue;
        const int from = header->visualIndex(logical);
        if (from != visual)
            header->moveSection(from, visual);
        ++visual;
    }
    stretchName();
}

void TDishGrid::stretchName()
{
    // The name takes the room the window gives beyond the other columns, never less than its own
    // width: a wider window shows longer names instead of an empty band on the right.
    const QHeaderView *header = horizontalHeader();
    int least = 0;
    for (const DishGridColumn &c : columns()) {
        if (QStringView(c.field) == u"NMPRATO")
            least = c.width;
    }
    int name = -1;
    int others = 0;
    for (int section = 0; section < header->count(); ++section) {
        if (header->isSectionHidden(section))
            continue;
        if (fieldOfColumn(model(), section).compare(u"NMPRATO", Qt::CaseInsensitive) == 0)
            name = section;
        else
            others += header->sectionSize(section);
    }
    if (name < 0)
        return;
    const int wanted = qMax(least, viewport()->width() - others);
    if (header->sectionSize(name) != wanted)
        horizontalHeader()->resizeSection(name, wanted);
}

bool TDishGrid::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::Resize)
        stretchName();
    return QTableView::viewportEvent(event);
}

void TDishGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QTableView::currentChanged(current, previous);
    if (m_following || !m_table || !current.isValid() || !m_table->isActive())
        return;
    const int row = current.row();
    if (row == m_table->currentRow() || row >= m_table->rowCount())
        return;
    // The grid's own event handling: a refused move (a pending row that cannot be posted) ends
    // here, and the grid goes back to the table's row.
    try {
        m_table->moveTo(row);
    } catch (const AbandonedAction &a) {
        HandlerBoundary::reportAbandoned(a);
        scheduleFollow();
    } catch (const std::exception &e) {
        messageSink()->showError(QString::fromUtf8(e.what()));
        scheduleFollow();
    }
}

void TDishGrid::scheduleFollow()
{
    if (m_followPending)
        return;
    m_followPending = true;
    QMetaObject::invokeMethod(this, &TDishGrid::followCurrentRow, Qt::QueuedConnection);
}

void TDishGrid::followCurrentRow()
{
    m_followPending = false;
    QItemSelectionModel *selection = selectionModel();
    if (!m_table || !selection || !model() || !m_table->isActive())
        return;
    const int row = m_table->currentRow();
    if (row < 0 || row >= model()->rowCount())
        return;
    if (currentIndex().row() == row && selection->isRowSelected(row, QModelIndex()))
        return;
    int column = currentIndex().isValid() ? currentIndex().column() : -1;
    if (column < 0 || isColumnHidden(column)) {
        column = -1;
        for (int v = 0; v < horizontalHeader()->count() && column < 0; ++v) {
            const int logical = horizontalHeader()->logicalIndex(v);
            if (!isColumnHidden(logical))
                column = logical;
        }
    }
    if (column < 0)
        return;
    m_following = true;
    selection->setCurrentIndex(model()->index(row, column),
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_following = false;
}
