#include "filelistlocale.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLocale>

namespace {

class OperatorsLocaleFiles final : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &index, int role) const override
    {
        // The file system model's columns: name, size, type, date modified.
        enum { Size = 1, Modified = 3 };
        const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
        if (role != Qt::DisplayRole || !files || (index.column() != Size && index.column() != Modified))
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        // A folder has no size: its cell stays as the list gives it.
        if (index.column() == Size && !files->isDir(source))
            return QLocale().formattedDataSize(files->size(source), 2, QLocale::DataSizeTraditionalFormat);
        if (index.column() == Modified)
            return QLocale().toString(files->lastModified(source), QLocale::ShortFormat);
        return QIdentityProxyModel::data(index, role);
    }
};

} // namespace

void showInOperatorsLocale(QFileDialog &dialog)
{
    dialog.setProxyModel(new OperatorsLocaleFiles(&dialog));
}
