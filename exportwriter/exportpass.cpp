// The export's pass over the database: the lines of the file, in the order the reader expects them.
#include "exportpass_p.h"
#include "exportvalues.h"

#include "dberror.h"
#include "messages.h"
#include "stoprequest.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QSet>

#include <cstring>

namespace MenuExport::detail {

namespace {

const Catalogue::TableDef &def(const char *name)
{
    return *Catalogue::table(QString::fromLatin1(name));
}

// The tables that follow a dish line, in the order of their structure lines.
constexpr const char *kRecipeTables[] = {"RECEPADR", "PRATPADR", "RECEFILI", "PRATFILI", "RECESERV", "PRATSERV"};

// The header line's further fields and line 3 are not read by the import; they say what wrote the
// file, from where and when. Line 12 closes the structure section, as the other side writes it.
const char kTitle[] = "EXPORTA\xC7\xC3O DE PRATOS"; // code page 1252

QString columnList(const Catalogue::TableDef &t)
{
    QStringList names;
    for (const FieldDef &f : t.columns)
        names << f.name;
    return names.join(QStringLiteral(", "));
}

// The room a value may take in the file: its UTF-8 length for text (code page 1252 never takes more
// bytes), a fixed bound for numbers and dates; the terminator besides.
qsizetype bound(const ExportRead::Cell &cell)
{
    return (cell.kind == ExportRead::Cell::Text ? qMax(cell.text.size(), ExportValues::kMaxFixed) : ExportValues::kMaxFixed) + 1;
}

char *putCell(char *out, FieldKind kind, const ExportRead::Cell &cell, ExportValues::Refused *r)
{
    using ExportRead::Cell;
    using namespace ExportValues;
    switch (cell.kind) {
    case Cell::Null:
        *out = char(0xF8);
        return out + 1;
    case Cell::Integer:
        if (kind == FieldKind::DateTime) {
            *r = {Refusal::BadDate, 0};
            return nullptr;
        }
        return putInteger(out, cell.integer);
    case Cell::Real:
        if (kind == FieldKind::DateTime) {
            *r = {Refusal::BadDate, 0};
            return nullptr;
        }
        return putNumber(out, cell.real, r);
    case Cell::Text:
        break;
    }
    switch (kind) {
    case FieldKind::Number:
        return putDecimalText(out, cell.text, r);
    case FieldKind::DateTime:
        return putDateText(out, cell.text, r);
    default:
        return putText(out, cell.text, r);
    }
}

// A whole line: the table's name, the values, the line end; the array cut back to where it was
// when a value is refused (*column then says which).
ExportValues::Refused putLine(QByteArray &b, QByteArrayView name, const Catalogue::TableDef &t,
                              const ExportRead::Cursor &row, int *column)
{
    const qsizetype start = b.size();
    qsizetype room = name.size() + 3;
    for (int i = 0; i < t.columns.size(); ++i)
        room += bound(row.at(i));
    b.resize(start + room);
    char *p = b.data() + start;
    std::memcpy(p, name.data(), size_t(name.size()));
    p += name.size();
    *p++ = char(0xF8);
    ExportValues::Refused r;
    for (int i = 0; i < t.columns.size(); ++i) {
        p = putCell(p, t.columns.at(i).kind, row.at(i), &r);
        if (!p) {
            *column = i;
            b.resize(start);
            return r;
        }
    }
    *p++ = '\r';
    *p++ = '\n';
    b.resize(p - b.constData());
    return {};
}

QByteArrayView textOf(const ExportRead::Cell &c)
{
    return c.kind == ExportRead::Cell::Text ? c.text : QByteArrayView();
}

} // namespace

// One table's rows in dish order, read one ahead of the merge.
struct Pass::Source {
    const Catalogue::TableDef *def = nullptr;
    std::unique_ptr<ExportRead::Cursor> cursor;
    QByteArray name; // the line's first field
    int pratoCol = -1;
    bool has = false;
    qint64 *count = nullptr;
    void advance() { has = cursor->next(); }
    QByteArrayView key() const { return textOf(cursor->at(pratoCol)); }
};

Pass::Pass(ExportRead::Snapshot &snapshot, const Request &request, Output &out, StopRequest *stop, Observer *observer)
    : m_snapshot(snapshot), m_request(request), m_out(out), m_stop(stop), m_observer(observer)
{
    QSet<QString> seen;
    for (const QString &code : request.dishes) {
        const QString c = code.trimmed();
        if (!c.isEmpty() && !seen.contains(c)) {
            seen.insert(c);
            m_codes << c.toUtf8();
        }
    }
    const QByteArray branch = request.branch.toUtf8();
    if (request.tree != Tree::Local)
        m_trees << QByteArray("P");
    if (request.tree != Tree::Padrao)
        m_trees << branch;
}

Failure Pass::readFailure(const QString &what, const QString &why) const
{
    return DbError::describe(what, {}, why);
}

QString Pass::dishFilter(const QString &column) const
{
    if (m_codes.isEmpty())
        return {};
    return QStringLiteral(" AND %1 IN (%2)").arg(column, QStringLiteral("?,").repeated(m_codes.size()).chopped(1));
}

Result<qint64> Pass::count(const QString &sql, const QList<QByteArray> &params)
{
    auto opened = m_snapshot.open(sql, params, 1);
    if (!opened)
        return Result<qint64>::fail(readFailure(QStringLiteral("ler PRATO"), opened.error()));
    ExportRead::Cursor &c = *opened.value();
    if (!c.next())
        return Result<qint64>::fail(readFailure(QStringLiteral("ler PRATO"), c.error()));
    const ExportRead::Cell &v = c.at(0);
    return v.kind == ExportRead::Cell::Integer ? v.integer : v.text.toLongLong();
}

Status Pass::stopPoint()
{
    if (m_stop && m_stop->requested())
        return Status::fail(Msg(QStringLiteral("Exp_Cancelada")), QStringLiteral("Exp_Cancelada"));
    return okStatus();
}

Status Pass::run(Totals &totals)
{
    if (m_codes.size() > kMaxDishCodes)
        return Status::fail(Msg(QStringLiteral("Exp_PratosDemais")).arg(kMaxDishCodes), QStringLiteral("Exp_PratosDemais"));
    totals.rows.clear();
    for (const QString &t : tables())
        totals.rows.append({t, 0});
    if (Status s = header(); !s)
        return s;
    if (m_observer) {
        QList<QByteArray> params = m_trees;
        params += m_codes;
        const auto dishes = count(QStringLiteral("SELECT COUNT(*) FROM PRATO WHERE CDFILAUXPRAT IN (%1)%2")
                                      .arg(QStringLiteral("?,").repeated(m_trees.size()).chopped(1), dishFilter(QStringLiteral("CDPRATO"))),
                                  params);
        if (!dishes)
            return Status::fail(dishes.failure());
        m_observer->setProgressRange(dishes.value());
        m_observer->setProgress(0);
    }
    if (Status s = services(totals); !s)
        return s;
    for (const QByteArray &aux : std::as_const(m_trees)) {
        if (Status s = tree(aux, totals); !s)
            return s;
    }
    if (!m_codes.isEmpty()) {
        // What was asked for and not found: a typing slip must not pass unseen.
        QSet<QByteArray> written;
        for (const QByteArray &aux : std::as_const(m_trees)) {
            QList<QByteArray> params{aux};
            params += m_codes;
            auto opened = m_snapshot.open(QStringLiteral("SELECT CDPRATO FROM PRATO WHERE CDFILAUXPRAT = ?%1")
                                              .arg(dishFilter(QStringLiteral("CDPRATO"))),
                                          params, 1);
            if (!opened)
                return Status::fail(readFailure(QStringLiteral("ler PRATO"), opened.error()));
            const auto &c = opened.value();
            while (c->next())
                written.insert(textOf(c->at(0)).toByteArray());
        }
        for (const QByteArray &code : std::as_const(m_codes))
            if (!written.contains(code))
                totals.missing << QString::fromUtf8(code);
    }
    return stopPoint();
}

Status Pass::header()
{
    auto opened = m_snapshot.open(QStringLiteral("SELECT CDPICTPRAT FROM PARAMGERAL ORDER BY CDFILIAL"), {}, 1);
    if (!opened)
        return Status::fail(readFailure(QStringLiteral("ler PARAMGERAL"), opened.error()));
    const auto &mask = opened.value();
    QByteArray &b = m_out.buffer();
    using namespace ExportValues;
    appendName(b, "PRATO");
    appendName(b, kTitle);
    appendName(b, "IMP40500");
    endLine(b);
    appendName(b, "MASCARA");
    // The import compares the mask with the first general-parameter row's, as the server gives it.
    if (mask->next() && mask->at(0).kind == ExportRead::Cell::Text) {
        if (const Refused r = appendText(b, mask->at(0).text))
            return Status::fail(Msg(QStringLiteral("Exp_MascaraInvalida")).arg(describe(r)), QStringLiteral("Exp_MascaraInvalida"));
    } else if (!mask->error().isEmpty()) {
        return Status::fail(readFailure(QStringLiteral("ler PARAMGERAL"), mask->error()));
    } else {
        appendNull(b);
    }
    endLine(b);
    appendName(b, "ORIGEM");
    appendName(b, m_request.branch.toLatin1());
    appendName(b, QDateTime::currentDateTime().toString(QStringLiteral("d/M/yyyy H:mm:ss")).toLatin1());
    endLine(b);
    for (const char *table : {"PRATO", "RECEPADR", "PRATPADR", "RECEFILI", "PRATFILI", "SERVICO", "RECESERV", "PRATSERV"}) {
        appendName(b, table);
        if (qstrcmp(table, "SERVICO") == 0) {
            // A service line gives the code and the name, whatever else the table holds.
            appendName(b, "CDSERVFILI");
            appendName(b, "NMSERVICO");
        } else {
            for (const FieldDef &f : def(table).columns)
                appendName(b, f.name.toLatin1());
        }
        endLine(b);
    }
    appendName(b, "FIM DA ESTRUTURA");
    endLine(b);
    appendName(b, "BASE DE DADOS");
    endLine(b);
    return okStatus();
}

Status Pass::services(Totals &totals)
{
    // The branch's services that the exported service rows name, once each.
    const QString trees = QStringLiteral("?,").repeated(m_trees.size()).chopped(1);
    QString named;
    for (const char *table : {"RECESERV", "PRATSERV"}) {
        if (!named.isEmpty())
            named += QStringLiteral(" OR ");
        named += QStringLiteral("EXISTS (SELECT 1 FROM %1 R JOIN PRATO P ON P.CDFILAUXPRAT = R.CDFILAUXPRAT AND "
                                "P.CDPRATO = R.CDPRATO WHERE R.CDFILIAL = S.CDFILIAL AND R.CDSERVFILI = S.CDSERVFILI "
                                "AND R.CDFILAUXPRAT IN (%2)%3)")
                     .arg(QLatin1String(table), trees, dishFilter(QStringLiteral("R.CDPRATO")));
    }
    QList<QByteArray> params{m_request.branch.toUtf8()};
    for (int i = 0; i < 2; ++i)
        params += m_trees + m_codes;
    const QString sql = QStringLiteral("SELECT S.CDSERVFILI, S.NMSERVICO FROM SERVICO S WHERE S.CDFILIAL = ? AND (%1) "
                                       "ORDER BY S.CDSERVFILI%2")
                            .arg(named, m_snapshot.postgres() ? QStringLiteral(" COLLATE \"C\"") : QString());
    auto opened = m_snapshot.open(sql, params, 2);
    if (!opened)
        return Status::fail(readFailure(QStringLiteral("ler SERVICO"), opened.error()));
    const auto &c = opened.value();
    QByteArray &b = m_out.buffer();
    qint64 &written = totals.rows[0].second;
    // A service line is its code and its name.
    static const Catalogue::TableDef serviceLine{QStringLiteral("SERVICO"),
                                                 {FieldDef::text(QStringLiteral("CDSERVFILI"), 5),
                                                  FieldDef::text(QStringLiteral("NMSERVICO"), 40)},
                                                 {}, {}};
    while (c->next()) {
        int column = -1;
        if (const ExportValues::Refused r = putLine(b, "SERVICO", serviceLine, *c, &column))
            return Status::fail(Msg(QStringLiteral("Exp_ServicoInvalido"))
                                    .arg(QString::fromUtf8(textOf(c->at(0))), serviceLine.columns.at(column).name,
                                         ExportValues::describe(r)),
                                 QStringLiteral("Exp_ServicoInvalido"));
        ++written;
    }
    if (!c->error().isEmpty())
        return Status::fail(readFailure(QStringLiteral("ler SERVICO"), c->error()));
    return m_out.maybeFlush();
}

Status Pass::tree(const QByteArray &aux, Totals &totals)
{
    const bool pg = m_snapshot.postgres();
    // Each table in dish order, by its own key's index: no table is sorted whole. PostgreSQL orders
    // by the bytes, as the merge compares them, whatever the database's collation.
    const auto order = [pg](const QStringList &cols) {
        QStringList out;
        for (const QString &c : cols)
            out << (pg ? c + QStringLiteral(" COLLATE \"C\"") : c);
        return out.join(QStringLiteral(", "));
    };
    const QByteArray branch = m_request.branch.toUtf8();
    const auto open = [&](const char *table, bool perBranch, const QStringList &orderBy, std::unique_ptr<Source> &src) {
        const Catalogue::TableDef &t = def(table);
        QList<QByteArray> params;
        if (perBranch)
            params << branch;
        params << aux;
        params += m_codes;
        const QString sql = QStringLiteral("SELECT %1 FROM %2 WHERE %3CDFILAUXPRAT = ?%4 ORDER BY %5")
                                .arg(columnList(t), t.name, perBranch ? QStringLiteral("CDFILIAL = ? AND ") : QString(),
                                     dishFilter(QStringLiteral("CDPRATO")), order(orderBy));
        src = std::make_unique<Source>();
        src->def = &t;
        src->name = t.name.toLatin1();
        src->pratoCol = t.indexOf(u"CDPRATO");
        auto opened = m_snapshot.open(sql, params, int(t.columns.size()));
        if (!opened)
            return Status::fail(readFailure(QStringLiteral("ler %1").arg(t.name), opened.error()));
        src->cursor = std::move(opened).value();
        for (auto &[name, n] : totals.rows)
            if (name == t.name)
                src->count = &n;
        src->advance();
        return okStatus();
    };
    const QString prato = QStringLiteral("CDPRATO"), produto = QStringLiteral("CDPRODUTO");
    std::unique_ptr<Source> dish;
    std::vector<std::unique_ptr<Source>> recipes(std::size(kRecipeTables));
    // The service tables are read by their dish index (CDFILAUXPRAT, CDPRATO, CDFILIAL): a dish's rows
    // come in the index's order, and ordering them further would sort the whole table.
    const QStringList orders[] = {{prato, produto}, {prato}, {prato, produto}, {prato}, {prato}, {prato}};
    if (Status s = open("PRATO", false, {prato}, dish); !s)
        return s;
    for (size_t i = 0; i < recipes.size(); ++i) {
        const bool perBranch = i >= 2;
        if (Status s = open(kRecipeTables[i], perBranch, orders[i], recipes[i]); !s)
            return s;
    }
    return dishLoop(*dish, recipes);
}

Status Pass::dishLoop(Source &dish, std::vector<std::unique_ptr<Source>> &recipes)
{
    QElapsedTimer clock;
    clock.start();
    for (; dish.has; dish.advance()) {
        const QByteArrayView code = dish.key();
        if (Status s = line(*dish.def, dish.name, *dish.cursor); !s)
            return s;
        ++*dish.count;
        for (auto &src : recipes) {
            // A recipe row whose dish is not in PRATO has no line to follow.
            while (src->has && src->key().compare(code) < 0)
                src->advance();
            while (src->has && src->key() == code) {
                if (Status s = line(*src->def, src->name, *src->cursor); !s)
                    return s;
                ++*src->count;
                src->advance();
            }
        }
        ++m_dishes;
        if ((m_dishes & 255) == 0 && m_observer) {
            m_observer->setProgress(m_dishes);
            // Events a few times a second, not every 256 dishes: a screen repaint costs more than them.
            if (clock.elapsed() - m_lastServe >= kServeEveryMs) {
                m_lastServe = clock.elapsed();
                m_observer->serveEvents();
            }
        }
        if ((m_dishes & 255) == 0) {
            if (Status s = stopPoint(); !s)
                return s;
        }
    }
    if (!dish.cursor->error().isEmpty())
        return Status::fail(readFailure(QStringLiteral("ler PRATO"), dish.cursor->error()));
    for (const auto &src : recipes) {
        if (!src->cursor->error().isEmpty())
            return Status::fail(readFailure(QStringLiteral("ler %1").arg(src->def->name), src->cursor->error()));
    }
    if (m_observer)
        m_observer->setProgress(m_dishes);
    return okStatus();
}

Status Pass::line(const Catalogue::TableDef &t, QByteArrayView name, const ExportRead::Cursor &row)
{
    int column = -1;
    if (const ExportValues::Refused r = putLine(m_out.buffer(), name, t, row, &column)) {
        const int aux = t.indexOf(u"CDFILAUXPRAT");
        const int code = t.indexOf(u"CDPRATO");
        const QString tree = textOf(row.at(aux)) == "P" ? Msg(QStringLiteral("PADRAO")) : Msg(QStringLiteral("LOCAL"));
        const QString dish = QStringLiteral("%1 (%2)").arg(QString::fromUtf8(textOf(row.at(code))), tree);
        return Status::fail(Msg(QStringLiteral("Exp_ValorInvalido")).arg(dish, t.name, t.columns.at(column).name, ExportValues::describe(r)),
                            QStringLiteral("Exp_ValorInvalido"));
    }
    return m_out.maybeFlush();
}

} // namespace MenuExport::detail
