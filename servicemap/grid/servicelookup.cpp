#include "servicelookup.h"

#include "framework.h"
#include "query.h"

#include <QInputDialog>
#include <QStringList>

#include <vector>

namespace ServiceLookups {

std::optional<ServiceChoice> pickList(ReadOnlyQuery &services, const QString &caption, QWidget *parent)
{
    const qsizetype bar = caption.indexOf(u'|');
    const QString title = bar < 0 ? caption : caption.left(bar);
    const QString emptyText = bar < 0 ? QString() : caption.mid(bar + 1);

    services.openOrAbandon();
    std::vector<ServiceChoice> rows;
    QStringList items;
    for (; !services.eof(); services.next()) {
        ServiceChoice c{services.value(0).toString(), services.value(1).toString()};
        items << c.code + QStringLiteral(" - ") + c.name;
        rows.push_back(std::move(c));
    }
    if (rows.empty()) {
        if (!emptyText.isEmpty())
            messageSink()->showError(emptyText);
        return std::nullopt;
    }
    bool ok = false;
    const QString picked = QInputDialog::getItem(parent, title, title, items, 0, false, &ok);
    if (!ok)
        return std::nullopt;
    const qsizetype at = items.indexOf(picked);
    if (at < 0)
        return std::nullopt;
    return rows[size_t(at)];
}

} // namespace ServiceLookups
