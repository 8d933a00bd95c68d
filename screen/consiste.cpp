#include "consiste.h"
#include "datasource.h"
#include "dialogs.h"
#include "framework.h"
#include "memtablemodel.h"

#include <QAbstractItemView>
#include <QVariant>
#include <QWidget>

int tagOf(const QWidget *w)
{
    return w ? w->property("tag").toInt() : 0;
}

void setTag(QWidget *w, int tag)
{
    w->setProperty("tag", tag);
}

void SetChildEnabled(QWidget *container, bool enabled)
{
    if (!container)
        return;
    const auto children = container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *w : children) {
        if (w->isWindow() || tagOf(w) == kTagFixo)
            continue;
        w->setEnabled(enabled);
    }
}

int IndiceCol(const QAbstractItemView *grid, const QString &fieldName)
{
    const QAbstractItemModel *model = grid ? grid->model() : nullptr;
    if (!model)
        return -1;
    for (int c = 0; c < model->columnCount(); ++c) {
        QString name = model->headerData(c, Qt::Horizontal, MemTableModel::FieldNameRole).toString();
        if (name.isEmpty() && model->rowCount() > 0)
            name = model->index(0, c).data(MemTableModel::FieldNameRole).toString();
        if (name.compare(fieldName, Qt::CaseInsensitive) == 0)
            return c;
    }
    return -1;
}

bool Pesquisar(TDataSource &dataSource, const QString &caption, bool multiSelect, bool warnWhenEmpty)
{
    Q_ASSERT(!multiSelect);
    (void)multiSelect;
    const qsizetype bar = caption.indexOf(u'|');
    const QString title = bar < 0 ? caption : caption.left(bar);
    const QString emptyText = bar < 0 ? QString() : caption.mid(bar + 1);

    dataSource.refresh();
    MemTable *table = dataSource.table();
    if (!table || !table->isActive() || table->rowCount() == 0) {
        if (warnWhenEmpty && !emptyText.isEmpty())
            messageSink()->showError(emptyText);
        return false;
    }
    MemTableModel model(table);
    if (!dataSource.displayFields.isEmpty())
        model.setVisibleFields(dataSource.displayFields);
    const int row = dialogs()->pesquisar(&model, title);
    if (row < 0 || row >= table->rowCount())
        return false;
    table->moveTo(row);
    return true;
}
