#include "beforeimage.h"
#include "undosql.h"


using namespace RdmMethods::Rows;
using UndoStore::Written;

namespace {

const QString kWhat = QStringLiteral("guardar o que a importação substitui");

} // namespace

BeforeImage::BeforeImage(QSqlDatabase &db, QString keys, QString branch, std::vector<quint8> tables)
    : m_db(db), m_keys(std::move(keys)), m_branch(std::move(branch)), m_tables(std::move(tables)),
      m_hash(m_tables.size(), 0), m_scale(size_t(UndoStore::writtenTables().size()))
{
    for (quint8 t : m_tables)
        m_used |= t;
}

void BeforeImage::setColumns(int table, const Catalogue::TableDef &def, const QList<int> &columns)
{
    if (!(m_used & UndoSql::bitOf(table)))
        return;
    QStringList names;
    std::vector<int> &scale = m_scale[size_t(table)];
    scale.clear();
    for (int c : columns) {
        const FieldDef &f = def.columns.at(c);
        names << f.name;
        scale.push_back(f.kind == FieldKind::Number && f.precision > 0 ? f.scale : -1);
    }
    m_columns << def.name + QLatin1Char('=') + names.join(QLatin1Char(','));
}

Status BeforeImage::begin()
{
    if (Status s = UndoStore::ensureTables(m_db); !s)
        return s;
    // Imports never keep at once: each holds its tables' lock (PostgreSQL) or the one writer's
    // place (SQLite) from before this to its commit.
    QSqlQuery next(m_db);
    const QString sql = QStringLiteral("SELECT COALESCE(MAX(NRDESFAZ), 0) + 1 FROM %1").arg(QLatin1String(UndoStore::kImports));
    if (Status s = UndoSql::run(m_db, sql, {}, kWhat, &next); !s)
        return s;
    m_number = next.next() ? next.value(0).toInt() : 1;
    return okStatus();
}

Status BeforeImage::keep(int table)
{
    if (!(m_used & UndoSql::bitOf(table)))
        return okStatus();
    const Written &w = UndoStore::writtenTables().at(table);
    const Catalogue::TableDef &t = UndoSql::table(w);
    const QStringList cols = UndoSql::allColumns(t);
    QVariantList binds{m_number, UndoSql::bitOf(table)};
    if (w.perBranch)
        binds << m_branch;
    // One statement on the database's side, the rows never travel; just before the table is
    // written, while its pages are at hand.
    QSqlQuery q(m_db);
    const QString sql = QStringLiteral("INSERT INTO %1 (NRDESFAZ, %2) SELECT ?, %3 FROM %4 T JOIN %5 K ON "
                                       "T.CDFILAUXPRAT = K.CDFILAUXPRAT AND T.CDPRATO = K.CDPRATO "
                                       "WHERE (K.IDTABELAS & ?) <> 0%6")
                            .arg(UndoStore::shadowOf(t.name), UndoSql::columnList(cols), UndoSql::columnList(cols, QStringLiteral("T")),
                                 t.name, m_keys, w.perBranch ? QStringLiteral(" AND T.CDFILIAL = ?") : QString());
    if (Status s = UndoSql::run(m_db, sql, binds, kWhat, &q); !s)
        return s;
    if (table == 0)
        m_replaced = q.numRowsAffected();
    return okStatus();
}

void BeforeImage::add(int table, int dish, const Cells &row)
{
    const std::vector<int> &scale = m_scale[size_t(table)];
    RowHash h(table);
    for (size_t i = 0; i < row.size(); ++i) {
        const Cell &c = row[i];
        if (c.kind == Cell::Null)
            h.null();
        else if (c.kind == Cell::Number)
            h.number(c.number, i < scale.size() ? scale[i] : -1);
        else
            h.text(c.text);
    }
    m_hash[size_t(dish)] += h.value();
}

Status BeforeImage::seal(const QString &historyId, const QDateTime &when, const std::function<void(int, Cells &)> &keyOf)
{
    if (m_number == 0)
        return okStatus();
    // One value, whatever the number of dishes: a row per dish would cost the import a tree's
    // worth of writes.
    QByteArray dishes;
    dishes.reserve(qsizetype(m_hash.size()) * 24);
    Cells key(2);
    for (size_t d = 0; d < m_hash.size(); ++d) {
        keyOf(int(d), key);
        UndoStore::packDish(dishes, key[0].text, key[1].text, m_hash[d], m_tables[d]);
    }
    return UndoSql::run(m_db,
                        QStringLiteral("INSERT INTO %1 (CDHISTIMPO, NRDESFAZ, DTIMPORTACAO, CDFILIAL, QTPRATOSUBS, IDSITUACAO, "
                                       "DSCOLUNAS, DSPRATOS) VALUES (?, ?, ?, ?, ?, 'A', ?, ?)")
                            .arg(QLatin1String(UndoStore::kImports)),
                        {historyId, m_number, when.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")), m_branch,
                         m_replaced, m_columns.isEmpty() ? QStringLiteral("") : m_columns.join(QLatin1Char(';')), dishes},
                        kWhat);
}
