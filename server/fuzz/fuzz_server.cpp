// Any request to the application server's dispatch, as the HTTP edge hands it over: the first byte
// picks the method (one of the twelve, or an unknown name), the rest is the request body. The
// destination is an in-memory SQLite database with the demonstration data. Nothing may crash or
// hang, and every answer must be a well-formed response.
//
// With IMP_FUZZ_WRITE_SEEDS=DIR set, the target writes well-formed requests of every method into
// DIR and exits, so the run starts from calls that reach deep into each method.
#include "appserver.h"
#include "datapacket.h"
#include "memtable.h"
#include "rdmimpoprato.h"
#include "schema.h"
#include "wire.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

QSqlDatabase g_db;
QStringList g_methods;

QByteArray packet(const char *table, const QList<QVariantList> &rows, QList<FieldDef> fields = {})
{
    if (fields.isEmpty())
        fields = Catalogue::packetFields(*Catalogue::table(QString::fromLatin1(table)));
    MemTable t(QString::fromLatin1(table));
    t.setFields(fields);
    t.createDataSet();
    t.beginBulkLoad(int(rows.size()));
    for (QVariantList row : rows) {
        while (row.size() < fields.size())
            row << QVariant();
        t.bulkAppendRow(row);
    }
    t.endBulkLoad();
    return DataPacket::save(t);
}

void writeSeed(const QString &dir, const QString &name, const QString &method, const QCborArray &args)
{
    QFile f(QDir(dir).filePath(name));
    if (!f.open(QIODevice::WriteOnly))
        std::abort();
    f.write(QByteArray(1, char(g_methods.indexOf(method))));
    f.write(Wire::encodeRequest(args));
}

void writeSeeds(const QString &dir)
{
    QDir().mkpath(dir);
    for (const QString &m : g_methods)
        writeSeed(dir, m, m, {});
    writeSeed(dir, QStringLiteral("GetPesqPrato-args"), QStringLiteral("GetPesqPrato"),
              {QStringLiteral("000900"), QStringLiteral("0001")});
    MemTable dirs(QStringLiteral("DIRETORIOS"));
    dirs.setFields(Catalogue::table(u"DIRETORIOS")->columns);
    dirs.createDataSet();
    dirs.append();
    dirs.setValue(u"CDPROGRAMA", QStringLiteral("IMP40500"));
    dirs.setValue(u"DSDIRETORIO", QStringLiteral("/dados"));
    dirs.post();
    writeSeed(dir, QStringLiteral("SetDiretorios-args"), QStringLiteral("SetDiretorios"), {DataPacket::saveDelta(dirs)});

    const QString P = QStringLiteral("P");
    const QDateTime when(QDate(2024, 3, 1), QTime(12, 0), Qt::UTC);
    const QList<QVariantList> dishes{
        {P, QStringLiteral("300001"), QStringLiteral("0001"), QStringLiteral("PRATO"), QStringLiteral("1"),
         QStringLiteral("KG"), 0.05, when, QVariant(), QVariant(), when, QStringLiteral("0000000000")},
        {P, QString(), QString(), QStringLiteral("SINALIZADO"), QString(), QString(), QVariant(), QVariant(),
         QVariant(), QVariant(), QVariant(), QStringLiteral("0000100000")}};
    const QList<FieldDef> servDestino{FieldDef::text(QStringLiteral("CDSERVFILI"), 5),
                                      FieldDef::text(QStringLiteral("NMSERVICO"), 40)};
    const QList<FieldDef> servico{FieldDef::text(QStringLiteral("CDSERVFILIORIG"), 5),
                                  FieldDef::text(QStringLiteral("CDSERVFILIDEST"), 5),
                                  FieldDef::text(QStringLiteral("NMSERVICOORIG"), 40),
                                  FieldDef::text(QStringLiteral("NMSERVICODEST"), 40)};
    const QCborArray full{
        packet("PRATO", dishes),
        packet("RECEPADR", {{P, QStringLiteral("300001"), QStringLiteral("000101"), QStringLiteral("KG"), 0.5}}),
        packet("RECEFILI", {{QStringLiteral("0001"), P, QStringLiteral("300001"), QStringLiteral("000101"),
                             QStringLiteral("KG"), 0.5}}),
        packet("SERVDESTINO", {{QStringLiteral("00001"), QStringLiteral("ALMOCO")}}, servDestino),
        packet("RECESERV", {{QStringLiteral("0001"), QStringLiteral("00001"), P, QStringLiteral("300001"),
                             QStringLiteral("000101"), QStringLiteral("KG"), 0.5}}),
        packet("PRATPADR", {{P, QStringLiteral("300001"), QStringLiteral("KG"), 1.0}}),
        packet("PRATFILI", {{QString(), P, QStringLiteral("300001"), 9.5, when}}),
        packet("SERVICO", {{QStringLiteral("10"), QStringLiteral("00001"), QStringLiteral("A"), QStringLiteral("B")}},
               servico),
        qint64(-1), qint64(-1), qint64(0), QStringLiteral("0001")};
    writeSeed(dir, QStringLiteral("Importacao-full"), QStringLiteral("Importacao"), full);
    QCborArray empty;
    for (int i = 0; i < 8; ++i)
        empty.append(QByteArray());
    empty << qint64(-1) << qint64(0) << qint64(0) << QStringLiteral("0001");
    writeSeed(dir, QStringLiteral("Importacao-empty"), QStringLiteral("Importacao"), empty);
}

// The same arguments, a NaN equal to a NaN (QVariant's own comparison says it is not).
bool sameArgs(const CallArgs &a, const CallArgs &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const bool nans = a.at(i).typeId() == QMetaType::Double && b.at(i).typeId() == QMetaType::Double
                          && std::isnan(a.at(i).toDouble()) && std::isnan(b.at(i).toDouble());
        if (!nans && a.at(i) != b.at(i))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    g_methods = RdmImpoPrato::methodNames();
    g_methods << QStringLiteral("ApagaTudo");
    g_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fuzz"));
    g_db.setDatabaseName(QStringLiteral(":memory:"));
    if (!g_db.open() || !Schema::create(g_db) || !Schema::seedDemo(g_db))
        std::abort();
    const QString seeds = qEnvironmentVariable("IMP_FUZZ_WRITE_SEEDS");
    if (!seeds.isEmpty()) {
        writeSeeds(seeds);
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QString method = g_methods.at(data[0] % g_methods.size());
    const QByteArray body(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    // What the HTTP edge and the module do with a request, on one thread.
    QByteArray reply;
    auto args = Wire::decodeRequestShared(body);
    // The HTTP server's reading shares the body's bytes; it must give what the copying one gives.
    const auto copied = Wire::decodeRequest(body);
    if (bool(args) != bool(copied) || (args && !sameArgs(args.value(), copied.value())))
        std::abort();
    if (!args) {
        reply = Wire::encodeFailure(args.failure());
    } else {
        auto r = RdmMethods::run(g_db, method, args.value());
        reply = r ? Wire::encodeSuccess(r.value()) : Wire::encodeFailure(r.failure());
        // A failure is always a message for a person.
        if (!r && r.failure().message.trimmed().isEmpty())
            std::abort();
    }
    (void)Wire::decodeResponse(reply);
    return 0;
}
