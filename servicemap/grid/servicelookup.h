#pragma once
// The lookup behind the cell button of the service grid: a modal list of the destination branch's
// services. The screen plugs in its own lookup window (and tests a scripted answer), so the grid
// itself never depends on a modal loop.
#include <QString>

#include <functional>
#include <optional>

class QWidget;
class ReadOnlyQuery;

// The service the operator picked: SERVICO.CDSERVFILI and SERVICO.NMSERVICO.
struct ServiceChoice {
    QString code;
    QString name;
};

// Lists the rows of `services` (closed, its P_CDFILIAL already set; the lookup opens it) under
// `caption`, written "title|text shown when the list is empty". Returns the chosen service, or
// nothing when the operator cancelled or the list was empty (the lookup then showed that text).
// May throw what the query throws.
using ServiceLookup = std::function<std::optional<ServiceChoice>(ReadOnlyQuery &services, const QString &caption)>;

namespace ServiceLookups {
// The grid's own lookup for when none was plugged in: a plain modal pick list over `parent`.
std::optional<ServiceChoice> pickList(ReadOnlyQuery &services, const QString &caption, QWidget *parent);
} // namespace ServiceLookups
