#include "dishgrid.h"

#include "ambiente.h"
#include "dishpictures.h"
#include "dishtable.h"
#include "framework.h"
#include "memtable.h"
#include "memtablemodel.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPainter>

namespace {

const QString kIdErro = QStringLiteral("IDERRO");

// Gives the grid's titles in place of the field names, and the field name of each column as a
// header role, so that whoever asks the grid's model finds the columns by field.
class DishGridTitles : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QString fieldOfSection(int section) const
    {
        const QAbstractItemModel *src = sourceModel();
        if (!src || section < 0 || section >= src->columnCount())
            return QString();
        const QVariant byRole = src->headerData(section, Qt::Horizontal, MemTableModel::FieldNameRole);
        if (byRole.isValid())
            return byRole.toString();
        if (src->rowCount() > 0)
            return src->index(0, section).data(MemTableModel::FieldNameRole).toString();
        // An item model over a table heads a column with the field's name when the field has no
        // label, which is the case of the dish table's fields.
        return src->headerData(section, Qt::Horizontal, Qt::DisplayRole).toString();
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal) {
            if (role == MemTableModel::FieldNameRole)
                return fieldOfSection(section);
            if (role == Qt::DisplayRole) {
                const QString field = fieldOfSection(section);
                for (const DishGridColumn &c : TDishGrid::columns()) {
                    if (field.compare(QStringView(c.field), Qt::CaseInsensitive) == 0)
                        return QString::fromUtf16(c.title);
                }
            }
        }
        return QIdentityProxyModel::headerData(section, orientation, role);
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
        DishTable::hasErrors(index.data(MemTableModel::RawValueRole).toString()) ? m_erro : m_certo;

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

TDishGrid::TDishGrid(QWidget *parent)
    : QTableView(parent), m_titles(new DishGridTitles(this)), m_delegate(new DishGridDelegate(this))
{
    setItemDelegate(m_delegate);

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

    connect(m_titles, &QAbstractItemModel::modelReset, this, &TDishGrid::applyColumns);
    connect(m_titles, &QAbstractItemModel::columnsInserted, this, &TDishGrid::applyColumns);
    connect(m_titles, &QAbstractItemModel::columnsRemoved, this, &TDishGrid::applyColumns);
    connect(m_titles, &QAbstractItemModel::layoutChanged, this, &TDishGrid::applyColumns);
    connect(m_titles, &QAbstractItemModel::headerDataChanged, this, &TDishGrid::applyColumns);

    // The table's current row moves with every insert of the load pass; the grid catches up once
    // the events are served, not once per row.
    connect(m_titles, &QAbstractItemModel::modelReset, this, &TDishGrid::scheduleFollow);
    connect(m_titles, &QAbstractItemModel::rowsInserted, this, &TDishGrid::scheduleFollow);
    connect(m_titles, &QAbstractItemModel::rowsRemoved, this, &TDishGrid::scheduleFollow);
    connect(m_titles, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &, const QModelIndex &, const QList<int> &roles) {
                if (roles.contains(MemTableModel::IsCurrentRowRole))
                    scheduleFollow();
            });
}

TDishGrid::~TDishGrid() = default;

void TDishGrid::setModel(QAbstractItemModel *model)
{
    m_titles->setSourceModel(model);
    QTableView::setModel(m_titles);
    applyColumns();
    scheduleFollow();
}

QAbstractItemModel *TDishGrid::sourceModel() const
{
    return m_titles->sourceModel();
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
    auto *titles = static_cast<DishGridTitles *>(m_titles);
    QHeaderView *header = horizontalHeader();
    const int count = m_titles->columnCount();
    const QList<DishGridColumn> &cols = columns();
    QList<int> logicalOf(cols.size(), -1);
    for (int section = 0; section < count; ++section) {
        const QString field = titles->fieldOfSection(section);
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
    } catch (const AbandonedAction &) {
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
    if (!m_table || !selection || !m_table->isActive())
        return;
    const int row = m_table->currentRow();
    if (row < 0 || row >= m_titles->rowCount())
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
    selection->setCurrentIndex(m_titles->index(row, column),
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_following = false;
}
