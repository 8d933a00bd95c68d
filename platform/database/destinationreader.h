#pragma once
// The operator environment's reads of its destination (the branch's name, the dish-code picture,
// the client cache's tables), through the shared connection; and the one call that points a
// process at its destination.
#include "ambiente.h"
#include "database_export.h"

#include <QSqlDatabase>
#include <optional>

class IMP_DATABASE_EXPORT DestinationReader final : public DestinationSource {
public:
    std::optional<QString> dishPicture() override;
    Result<QString> branchName(const QString &branch) override;
    Result<QByteArray> tableRows(const QString &table) override;
};

namespace Database {
// Points the process at the destination `url`: the environment's databaseUrl, the shared
// connection (closed when it was open on another one) and the environment's reads through it.
IMP_DATABASE_EXPORT void useDestination(Ambiente &env, const QString &url);
} // namespace Database

// The dish-code picture of a destination (PARAMGERAL.CDPICTPRAT of its first row) read through
// `db`; empty when it has none, nullopt when it cannot be read.
IMP_DATABASE_EXPORT std::optional<QString> readDishPicture(const QSqlDatabase &db);
