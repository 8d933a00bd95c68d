#include "loadgen.h"

#include "appserver.h"
#include "database.h"
#include "schema.h"
#include "valuedecoder.h"

#include <QDate>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace LoadGen {

namespace {

// The export screen's services: origin codes differ from the destination's, names pair by case.
struct Service {
    const char *code;
    const char *name;
};
const Service kServices[] = {{"10", "Almoco"}, {"20", "Jantar"}, {"30", "Ceia"}, {"40", "Cafe da Manha"}};

// Units the demonstration destination has.
const char *const kUnits[] = {"KG", "G", "L", "ML", "UN", "PORC"};

QString productCode(int i)
{
    return QStringLiteral("2%1").arg(i, 5, 10, QLatin1Char('0'));
}

class Writer {
public:
    Writer(QFile &file, QFile *csv) : m_file(file), m_csv(csv)
    {
        m_buf.reserve(kBlock + 4096);
        m_csvBuf.reserve(kBlock + 4096);
    }
    // One line: the fields, each with its terminator, then CR LF.
    void line(const QStringList &fields)
    {
        for (const QString &f : fields) {
            m_buf.append(ExportText::encode(f));
            m_buf.append(ExportText::kTerminatorByte);
        }
        m_buf.append("\r\n");
        ++m_lines;
        if (m_csv) {
            for (int i = 0; i < csvColumns(); ++i) {
                if (i)
                    m_csvBuf.append(',');
                if (i < fields.size())
                    appendCsv(fields[i]);
            }
            m_csvBuf.append('\n');
        }
        if (m_buf.size() >= kBlock || m_csvBuf.size() >= kBlock)
            flush();
    }
    bool flush()
    {
        bool ok = m_file.write(m_buf) == m_buf.size();
        m_bytes += m_buf.size();
        m_buf.resize(0);
        if (m_csv) {
            ok = ok && m_csv->write(m_csvBuf) == m_csvBuf.size();
            m_csvBuf.resize(0);
        }
        m_ok = m_ok && ok;
        return m_ok;
    }
    qint64 bytes() const { return m_bytes; }
    qint64 lines() const { return m_lines; }
    bool ok() const { return m_ok; }

private:
    void appendCsv(const QString &f)
    {
        const QByteArray u = f.toUtf8();
        if (u.contains(',') || u.contains('"') || u.contains('\n') || u.contains('\r')) {
            QByteArray q = u;
            q.replace("\"", "\"\"");
            m_csvBuf.append('"').append(q).append('"');
        } else {
            m_csvBuf.append(u);
        }
    }
    static constexpr qsizetype kBlock = 1 << 20;
    QFile &m_file;
    QFile *m_csv;
    QByteArray m_buf, m_csvBuf;
    qint64 m_bytes = 0;
    qint64 m_lines = 0;
    bool m_ok = true;
};

QStringList columnsOf(const char *table)
{
    QStringList names{QString::fromLatin1(table)};
    for (const FieldDef &f : Catalogue::table(QString::fromLatin1(table))->columns)
        names << f.name;
    return names;
}

} // namespace

int csvColumns()
{
    return 12; // the PRATO structure line: the name and its eleven columns
}

Result<Written> writeExportFile(const QString &path, const Options &o, const QString &csvPath)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return Result<Written>::fail(QStringLiteral("%1: %2").arg(path, file.errorString()));
    QFile csv(csvPath);
    if (!csvPath.isEmpty() && !csv.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return Result<Written>::fail(QStringLiteral("%1: %2").arg(csvPath, csv.errorString()));
    Writer w(file, csvPath.isEmpty() ? nullptr : &csv);
    const ValueDecoder fmt(o.locale);
    const QString src = o.sourceBranch;

    // The structure section: lines 1 to 13, the data marker last.
    w.line({QStringLiteral("PRATO"), QStringLiteral("EXPORTAÇÃO DE PRATOS"), QStringLiteral("IMP40400")});
    w.line({QStringLiteral("MASCARA"), QStringLiteral("999.999")});
    w.line({QStringLiteral("ORIGEM"), src, QStringLiteral("COZINHA DE ORIGEM")});
    for (const char *t : {"PRATO", "RECEPADR", "PRATPADR", "RECEFILI", "PRATFILI"})
        w.line(columnsOf(t));
    w.line({QStringLiteral("SERVICO"), QStringLiteral("CDSERVFILI"), QStringLiteral("NMSERVICO")});
    w.line(columnsOf("RECESERV"));
    w.line(columnsOf("PRATSERV"));
    w.line({QStringLiteral("FIM DA ESTRUTURA")});
    w.line({QStringLiteral("BASE DE DADOS")});
    const qint64 headerLines = w.lines();

    for (const Service &s : kServices)
        w.line({QStringLiteral("SERVICO"), QString::fromLatin1(s.code), QString::fromLatin1(s.name)});

    const QDateTime changed(QDate(2024, 3, 15), QTime(10, 30, 0), Qt::UTC);
    const QDate updated(2024, 1, 10);
    for (int i = 0; i < o.dishes; ++i) {
        const bool local = o.localEvery > 0 && i % o.localEvery == o.localEvery - 1;
        const QString tree = local ? src : QStringLiteral("P");
        const QString code = QString::number(100000 + o.firstDish + i);
        const QString unit = QString::fromLatin1(kUnits[i % 6]);
        auto product = [&](int k) { return productCode((i * 7 + k * 13) % o.products + 1); };
        auto qty = [&](int k) { return fmt.fromNumber(double((i + k) % 1000 + 1) / 8.0); };
        const Service &svc = kServices[i % 4];

        w.line({QStringLiteral("PRATO"), tree, code, src, QStringLiteral("PRATO GERADO Nº %1 AÇÃO").arg(i),
                QStringLiteral("1"), unit, fmt.fromNumber((i % 20) / 100.0),
                fmt.fromDateTime(QDateTime(updated.addDays(i % 300), QTime(0, 0), Qt::UTC)),
                QStringLiteral("01"), QStringLiteral("EXP%1").arg(code), fmt.fromDateTime(changed)});
        w.line({QStringLiteral("RECEPADR"), tree, code, product(1), unit, qty(1)});
        w.line({QStringLiteral("RECEPADR"), tree, code, product(2), QStringLiteral("G"), qty(2)});
        w.line({QStringLiteral("PRATPADR"), tree, code, unit, qty(3)});
        w.line({QStringLiteral("RECEFILI"), src, tree, code, product(3), unit, qty(4)});
        w.line({QStringLiteral("RECEFILI"), src, tree, code, product(4), QStringLiteral("ML"), qty(5)});
        w.line({QStringLiteral("PRATFILI"), src, tree, code, qty(6), fmt.fromDateTime(changed)});
        w.line({QStringLiteral("RECESERV"), src, QString::fromLatin1(svc.code), tree, code, product(5), unit, qty(7)});
        w.line({QStringLiteral("PRATSERV"), src, QString::fromLatin1(svc.code), tree, code, qty(8)});
    }
    if (!w.flush())
        return Result<Written>::fail(QStringLiteral("%1: %2").arg(path, file.errorString()));
    return Written{w.bytes(), w.lines(), w.lines() - headerLines};
}

Status createDestination(const QString &databaseUrl, const Options &o)
{
    const QString connection = QStringLiteral("imp40500_loadgen");
    Status result = okStatus();
    {
        auto db = Database::open(databaseUrl, connection);
        if (!db)
            return Status::fail(db.error());
        QSqlDatabase &d = db.value();
        if (Status s = Schema::create(d); !s)
            result = s;
        else if (Status s2 = Schema::seedDemo(d); !s2)
            result = s2;
        if (result) {
            d.transaction();
            QSqlQuery q(d);
            q.prepare(QStringLiteral("INSERT INTO PRODUTO (CDPRODUTO, NMPRODUTO) VALUES (?, ?) ON CONFLICT DO NOTHING"));
            for (int i = 1; i <= o.products && result; ++i) {
                q.bindValue(0, productCode(i));
                q.bindValue(1, QStringLiteral("PRODUTO GERADO %1").arg(i));
                if (!q.exec())
                    result = Status::fail(q.lastError().text());
            }
            q.prepare(QStringLiteral("INSERT INTO SERVICO (CDFILIAL, CDSERVFILI, NMSERVICO) VALUES (?, ?, ?) "
                                     "ON CONFLICT DO NOTHING"));
            q.bindValue(0, o.destinationBranch);
            q.bindValue(1, QStringLiteral("005"));
            q.bindValue(2, QStringLiteral("CAFE DA MANHA"));
            if (result && !q.exec())
                result = Status::fail(q.lastError().text());
            if (result)
                d.commit();
            else
                d.rollback();
        }
        d.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return result;
}

} // namespace LoadGen
