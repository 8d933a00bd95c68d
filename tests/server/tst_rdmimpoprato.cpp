// The remote data module through both transports against SQLite and PostgreSQL, and the rules of
// Importacao: flagged dishes skipped with their recipes, recipes replaced only with their flag,
// all or nothing, arguments refused whole.
#include "rig.h"
#include "destinationreader.h"

#include "ambiente.h"
#include "dishsnapshot.h"
#include "embedded.h"

#include <QSqlQuery>
#include <QtTest>

class TestRdmImpoPrato : public QObject {
    Q_OBJECT

private:
    static void backends()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << QStringLiteral("sqlite");
        QTest::newRow("postgresql") << QStringLiteral("postgresql");
    }

    static QStringList column(SeededDb &db, const QString &sql)
    {
        QSqlQuery q(db.db());
        if (!q.exec(sql))
            return {QStringLiteral("<failed>")};
        QStringList out;
        while (q.next())
            out << q.value(0).toString().trimmed();
        out.sort();
        return out;
    }

private slots:
    void everyMethod_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("transport");
        for (const char *b : {"sqlite", "postgresql"})
            for (const char *t : {"inprocess", "http"})
                QTest::addRow("%s/%s", b, t) << QString::fromLatin1(b) << QString::fromLatin1(t);
    }

    void everyMethod()
    {
        QFETCH(QString, backend);
        QFETCH(QString, transport);
        MAKE_RIG(rig, backend, transport);
        NetConnection &net = rig->net;

        // General parameters: the demo destination's picture.
        MemTable param;
        QVERIFY(loadInto(param, Rdm::GetParamGeral(net)));
        QCOMPARE(param.rowCount(), 1);
        QCOMPARE(param.text(u"CDPICTPRAT"), QStringLiteral("999.999"));

        // Remembered directory: none, then insert, change and delete through change packets.
        MemTable dirs;
        QVERIFY(loadInto(dirs, Rdm::GetDiretorios(net)));
        QCOMPARE(dirs.rowCount(), 0);
        dirs.append();
        dirs.setValue(u"CDPROGRAMA", QStringLiteral("IMP40500"));
        dirs.setValue(u"DSDIRETORIO", QStringLiteral("/dados/exportação"));
        dirs.post();
        auto set = Rdm::SetDiretorios(net, DataPacket::saveDelta(dirs));
        QVERIFY2(set, qPrintable(set.error()));
        dirs.mergeChangeLog();
        MemTable again;
        QVERIFY(loadInto(again, Rdm::GetDiretorios(net)));
        QCOMPARE(again.rowCount(), 1);
        QCOMPARE(again.text(u"DSDIRETORIO"), QStringLiteral("/dados/exportação"));

        dirs.first();
        dirs.edit();
        dirs.setValue(u"DSDIRETORIO", QStringLiteral("/outro"));
        dirs.post();
        QVERIFY(Rdm::SetDiretorios(net, DataPacket::saveDelta(dirs)));
        dirs.mergeChangeLog();
        QVERIFY(loadInto(again, Rdm::GetDiretorios(net)));
        QCOMPARE(again.text(u"DSDIRETORIO"), QStringLiteral("/outro"));

        dirs.deleteRow();
        QVERIFY(Rdm::SetDiretorios(net, DataPacket::saveDelta(dirs)));
        QVERIFY(loadInto(again, Rdm::GetDiretorios(net)));
        QCOMPARE(again.rowCount(), 0);

        // Another program's directory is not this module's to write.
        dirs.mergeChangeLog();
        dirs.append();
        dirs.setValue(u"CDPROGRAMA", QStringLiteral("OUTRO"));
        dirs.post();
        auto foreign = Rdm::SetDiretorios(net, DataPacket::saveDelta(dirs));
        QVERIFY(!foreign);
        QVERIFY2(foreign.error().contains(QLatin1String("IMP40500")), qPrintable(foreign.error()));
        QCOMPARE(rig->db->count(QStringLiteral("DIRETORIOS")), 0);

        // Empty tables shaped by the catalogue.
        const QList<QPair<const char *, std::function<Result<QByteArray>(NetConnection &)>>> shapes{
            {"PRATO", Rdm::GetPrato},         {"RECEPADR", Rdm::GetRecePadr}, {"RECESERV", Rdm::GetReceServ},
            {"RECEFILI", Rdm::GetReceFili},   {"PRATPADR", Rdm::GetPratPadr}, {"PRATFILI", Rdm::GetPratFili},
            {"PRATSERV", Rdm::GetPratServ}};
        for (const auto &[table, call] : shapes) {
            MemTable t;
            QVERIFY(loadInto(t, call(net)));
            QCOMPARE(t.rowCount(), 0);
            const QList<FieldDef> expected = fieldsOf(table);
            QCOMPARE(t.fieldCount(), expected.size());
            for (int i = 0; i < expected.size(); ++i) {
                QCOMPARE(t.field(i).name, expected.at(i).name);
                QCOMPARE(t.field(i).kind, expected.at(i).kind);
                QCOMPARE(t.field(i).width, expected.at(i).width);
            }
        }

        // Dish lookup by code and branch.
        MemTable pesq;
        QVERIFY(loadInto(pesq, Rdm::GetPesqPrato(net, QStringLiteral("000900"), QStringLiteral("0001"))));
        QCOMPARE(pesq.rowCount(), 1);
        QCOMPARE(pesq.text(u"NMPRATO"), QStringLiteral("PUDIM DE LEITE CONDENSADO"));
        QVERIFY(loadInto(pesq, Rdm::GetPesqPrato(net, QStringLiteral("000900"), QStringLiteral("0002"))));
        QCOMPARE(pesq.rowCount(), 0);

        // An import, and its summary.
        ImportCall call;
        call.prato = {dish(QStringLiteral("P"), QStringLiteral("300001"), QStringLiteral("PRATO NOVO"))};
        call.recePadr = {{QStringLiteral("P"), QStringLiteral("300001"), QStringLiteral("000101"), QStringLiteral("KG"), 0.25}};
        auto imported = call.run(net);
        QVERIFY2(imported, qPrintable(imported.error()));
        auto summary = ImportSummary::decode(imported.value());
        QVERIFY(summary);
        QCOMPARE(summary->dishesWritten, 1);
        QVERIFY(summary->toText().contains(QLatin1String("Pratos gravados: 1")));
        QCOMPARE(rig->db->count(QStringLiteral("RECEPADR"), QStringLiteral("CDPRATO = '300001'")), 1);

        // Calls the module does not have, or with the wrong arguments.
        auto unknown = net.call(QStringLiteral("ApagaTudo"), {});
        QVERIFY(!unknown);
        QVERIFY2(unknown.error().contains(QLatin1String("ApagaTudo")), qPrintable(unknown.error()));
        auto arity = net.call(QStringLiteral("GetPesqPrato"), CallArgs{QStringLiteral("1")});
        QVERIFY(!arity);
        QVERIFY2(arity.error().contains(QLatin1String("2 argumento")), qPrintable(arity.error()));
    }

    // The dish lookup kept prepared by the connection: found and free codes in turn, a name beyond
    // Latin-1, and a failure (the table gone) that the next call after it recovers from.
    void dishLookup_data() { everyMethod_data(); }
    void dishLookup()
    {
        QFETCH(QString, backend);
        QFETCH(QString, transport);
        MAKE_RIG(rig, backend, transport);
        NetConnection &net = rig->net;
        QSqlQuery sql(rig->db->db());
        QVERIFY(sql.exec(QStringLiteral("UPDATE PRATO SET NMPRATO = 'PUDIM \u2603 DA CASA' WHERE CDPRATO = '000900'")));
        const struct {
            const char *code, *branch;
            int rows;
        } lookups[] = {{"000900", "0001", 1}, {"000900", "0002", 0}, {"", "0001", 0}, {"000900", "0001", 1},
                       {"999999", "0001", 0}, {"000900", "0001", 1}};
        for (const auto &l : lookups) {
            MemTable pesq;
            QVERIFY(loadInto(pesq, Rdm::GetPesqPrato(net, QString::fromLatin1(l.code), QString::fromLatin1(l.branch))));
            QCOMPARE(pesq.rowCount(), l.rows);
            if (l.rows)
                QCOMPARE(pesq.text(u"NMPRATO"), QStringLiteral("PUDIM \u2603 DA CASA"));
        }
        // A run of lookups long enough for the connection to read the branch's codes at once: the
        // same answers, and a dish another connection writes meanwhile is found once the snapshot
        // is checked again (SQLite: its data version; PostgreSQL: its age).
        const auto lookup = [&](const QString &code) {
            MemTable pesq;
            return loadInto(pesq, Rdm::GetPesqPrato(net, code, QStringLiteral("0001"))) ? pesq.rowCount() : -1;
        };
        for (int i = 0; i < 2 * DishSnapshot::kWarmAfter; ++i)
            QCOMPARE(lookup(i % 3 ? QStringLiteral("8%1").arg(i, 5, 10, QLatin1Char('0')) : QStringLiteral("000900")),
                     i % 3 ? 0 : 1);
        QCOMPARE(lookup(QStringLiteral("800001")), 0);
        QVERIFY(sql.exec(QStringLiteral("INSERT INTO PRATO (CDFILAUXPRAT, CDPRATO, NMPRATO) VALUES ('0001', '800001', 'NOVO')")));
        QTest::qWait(int(backend == u"sqlite" ? DishSnapshot::kRecheckMs : DishSnapshot::kMaxAgeMs) + 100);
        QCOMPARE(lookup(QStringLiteral("800001")), 1);
        QCOMPARE(lookup(QStringLiteral("800002")), 0);
        QVERIFY(sql.exec(QStringLiteral("ALTER TABLE PRATO RENAME TO PRATO_FORA")));
        const auto gone = Rdm::GetPesqPrato(net, QStringLiteral("000900"), QStringLiteral("0001"));
        QVERIFY(sql.exec(QStringLiteral("ALTER TABLE PRATO_FORA RENAME TO PRATO")));
        QVERIFY(!gone);
        MemTable back;
        QVERIFY(loadInto(back, Rdm::GetPesqPrato(net, QStringLiteral("000900"), QStringLiteral("0001"))));
        QCOMPARE(back.rowCount(), 1);
    }

    void importSkipsFlaggedDishes_data() { backends(); }
    void importSkipsFlaggedDishes()
    {
        QFETCH(QString, backend);
        MAKE_RIG(rig, backend, QStringLiteral("inprocess"));
        const QString P = QStringLiteral("P");
        ImportCall call;
        call.prato = {dish(P, QStringLiteral("100001"), QStringLiteral("ARROZ BRANCO SOLTINHO")),
                      dish(P, QStringLiteral("200001"), QStringLiteral("PRATO NOVO")),
                      dish(P, QStringLiteral("200002"), QStringLiteral("PRATO COM ERRO"), QStringLiteral("0100000000")),
                      dish(QStringLiteral("0001"), QStringLiteral("000900"), QStringLiteral("PUDIM"),
                           QStringLiteral("0001000000"), QStringLiteral("PUDIM DE LEITE CONDENSADO"))};
        call.recePadr = {{P, QStringLiteral("100001"), QStringLiteral("000102"), QStringLiteral("KG"), 1.0},
                         {P, QStringLiteral("200001"), QStringLiteral("000101"), QStringLiteral("KG"), 0.5},
                         {P, QStringLiteral("200002"), QStringLiteral("000103"), QStringLiteral("KG"), 0.5}};
        // The branch in the packet row is not the destination's: the row is written for 0001.
        call.receFili = {{QStringLiteral("0009"), P, QStringLiteral("200001"), QStringLiteral("000101"), QStringLiteral("KG"), 0.6},
                         {QStringLiteral("0001"), QStringLiteral("0001"), QStringLiteral("000900"), QStringLiteral("000110"),
                          QStringLiteral("L"), 0.2}};
        call.receServ = {{QStringLiteral("0001"), QStringLiteral("00001"), P, QStringLiteral("200001"), QStringLiteral("000101"),
                          QStringLiteral("KG"), 0.7}};
        call.temReceServ = false;
        call.pratPadr = {{P, QStringLiteral("100001"), QStringLiteral("KG"), 2.0},
                         {P, QStringLiteral("200001"), QStringLiteral("KG"), 1.0},
                         {P, QStringLiteral("200002"), QStringLiteral("KG"), 1.0}};
        call.pratFili = {{QString(), P, QStringLiteral("200001"), 9.5, QDateTime(QDate(2024, 3, 1), QTime(0, 0), Qt::UTC)}};
        call.servico = {{QStringLiteral("10"), QStringLiteral("00001"), QStringLiteral("Almoco"), QStringLiteral("ALMOCO")},
                        {QStringLiteral("30"), QString(), QStringLiteral("LANCHE"), QString()}};
        call.servDestino = {{QStringLiteral("00001"), QStringLiteral("ALMOCO")}};

        auto r = call.run(rig->net);
        QVERIFY2(r, qPrintable(r.error()));
        auto summary = ImportSummary::decode(r.value());
        QVERIFY(summary);
        QCOMPARE(summary->dishesWritten, 2);
        QCOMPARE(summary->dishesNotWritten, (QStringList{QStringLiteral("200002"), QStringLiteral("000900")}));
        const QList<QPair<QString, int>> rows{{QStringLiteral("PRATO"), 2},    {QStringLiteral("RECEPADR"), 2},
                                              {QStringLiteral("RECEFILI"), 1}, {QStringLiteral("PRATPADR"), 2},
                                              {QStringLiteral("PRATFILI"), 1}};
        QCOMPARE(summary->rowsPerTable, rows);

        SeededDb &db = *rig->db;
        QCOMPARE(column(db, QStringLiteral("SELECT NMPRATO FROM PRATO WHERE CDPRATO = '100001'")),
                 QStringList{QStringLiteral("ARROZ BRANCO SOLTINHO")});
        QCOMPARE(db.count(QStringLiteral("PRATO"), QStringLiteral("CDPRATO = '200002'")), 0);
        QCOMPARE(column(db, QStringLiteral("SELECT NMPRATO FROM PRATO WHERE CDPRATO = '000900'")),
                 QStringList{QStringLiteral("PUDIM DE LEITE CONDENSADO")});
        QCOMPARE(column(db, QStringLiteral("SELECT CDPRODUTO FROM RECEPADR WHERE CDPRATO = '100001'")),
                 QStringList{QStringLiteral("000102")});
        QCOMPARE(db.count(QStringLiteral("RECEPADR"), QStringLiteral("CDPRATO = '200002'")), 0);
        QCOMPARE(column(db, QStringLiteral("SELECT CDFILIAL FROM RECEFILI WHERE CDPRATO = '200001'")),
                 QStringList{QStringLiteral("0001")});
        QCOMPARE(db.count(QStringLiteral("RECEFILI"), QStringLiteral("CDPRATO = '000900'")), 0);
        QCOMPARE(db.count(QStringLiteral("RECEFILI"), QStringLiteral("CDPRATO = '000901'")), 1); // untouched
        QCOMPARE(db.count(QStringLiteral("RECESERV")), 0);
        QCOMPARE(column(db, QStringLiteral("SELECT QTRENDIMENTO FROM PRATPADR WHERE CDPRATO = '100001'")).first().toDouble(), 2.0);
        QCOMPARE(db.count(QStringLiteral("PRATPADR"), QStringLiteral("CDPRATO = '200002'")), 0);
        QCOMPARE(db.count(QStringLiteral("PRATFILI"), QStringLiteral("CDFILIAL = '0001' AND CDPRATO = '200001'")), 1);
        // Date-times come back as the wall clock they were sent with.
        QCOMPARE(column(db, QStringLiteral("SELECT DTULTATUPRAT FROM PRATO WHERE CDPRATO = '200001'")).first().left(16)
                     .replace(QLatin1Char('T'), QLatin1Char(' ')),
                 QStringLiteral("2024-03-01 12:30"));
    }

    // A dish's standard yield or branch price given twice: the last row counts, once, into an empty
    // table and over a row the destination already holds.
    void repeatedPerDishRowCountsOnce_data() { backends(); }
    void repeatedPerDishRowCountsOnce()
    {
        QFETCH(QString, backend);
        MAKE_RIG(rig, backend, QStringLiteral("inprocess"));
        const QString P = QStringLiteral("P");
        for (double yield : {1.5, 4.0}) {
            ImportCall call;
            call.prato = {dish(P, QStringLiteral("400001"), QStringLiteral("PRATO REPETIDO"))};
            call.pratPadr = {{P, QStringLiteral("400001"), QStringLiteral("KG"), 1.0},
                             {P, QStringLiteral("400001"), QStringLiteral("KG"), yield}};
            call.pratFili = {{QString(), P, QStringLiteral("400001"), 3.0, QDateTime(QDate(2024, 3, 1), QTime(0, 0), Qt::UTC)},
                             {QString(), P, QStringLiteral("400001"), yield, QDateTime(QDate(2024, 3, 2), QTime(0, 0), Qt::UTC)}};
            auto r = call.run(rig->net);
            QVERIFY2(r, qPrintable(r.error()));
            auto summary = ImportSummary::decode(r.value());
            QVERIFY(summary);
            QVERIFY(summary->rowsPerTable.contains(qMakePair(QStringLiteral("PRATPADR"), 1)));
            QVERIFY(summary->rowsPerTable.contains(qMakePair(QStringLiteral("PRATFILI"), 1)));
            QCOMPARE(column(*rig->db, QStringLiteral("SELECT QTRENDIMENTO FROM PRATPADR WHERE CDPRATO = '400001'"))
                         .first().toDouble(), yield);
            QCOMPARE(column(*rig->db, QStringLiteral("SELECT VRPRECO FROM PRATFILI WHERE CDPRATO = '400001'")).first().toDouble(),
                     yield);
        }
    }

    void recipeReplacedOnlyWithFlag_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<bool>("flag");
        QTest::addColumn<bool>("withRows");
        QTest::addColumn<QStringList>("recipe");
        for (const char *b : {"sqlite", "postgresql"}) {
            const QString be = QString::fromLatin1(b);
            QTest::addRow("%s/flag set", b) << be << true << true << QStringList{QStringLiteral("000102")};
            QTest::addRow("%s/flag clear", b) << be << false << true
                                               << QStringList{QStringLiteral("000101"), QStringLiteral("000106")};
            // The file held the section but not for this dish: its recipe goes.
            QTest::addRow("%s/flag set, no rows", b) << be << true << false << QStringList{};
        }
    }

    void recipeReplacedOnlyWithFlag()
    {
        QFETCH(QString, backend);
        QFETCH(bool, flag);
        QFETCH(bool, withRows);
        QFETCH(QStringList, recipe);
        MAKE_RIG(rig, backend, QStringLiteral("inprocess"));
        ImportCall call;
        call.prato = {dish(QStringLiteral("P"), QStringLiteral("100001"), QStringLiteral("ARROZ BRANCO"))};
        if (withRows)
            call.recePadr = {{QStringLiteral("P"), QStringLiteral("100001"), QStringLiteral("000102"), QStringLiteral("KG"), 1.0}};
        call.temRecePadr = flag;
        auto r = call.run(rig->net);
        QVERIFY2(r, qPrintable(r.error()));
        QCOMPARE(column(*rig->db, QStringLiteral("SELECT CDPRODUTO FROM RECEPADR WHERE CDFILAUXPRAT = 'P' AND CDPRATO = '100001'")),
                 recipe);
    }

    void importIsAllOrNothing_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        for (const char *b : {"sqlite", "postgresql"}) {
            const QString be = QString::fromLatin1(b);
            QTest::addRow("%s/null key in the last service recipe row", b) << be << "nullkey" << "RECESERV";
            QTest::addRow("%s/repeated recipe row", b) << be << "duplicate" << "RECEPADR";
            // The first dish's row again at the end, apart from its dish's other rows.
            QTest::addRow("%s/repeated recipe row apart", b) << be << "apart" << "o prato 400000 repete em RECEPADR";
            QTest::addRow("%s/name longer than its column", b) << be << "toolong" << "NMPRATO";
            // The recipe keys are checked beside the first writes on PostgreSQL: still told first.
            QTest::addRow("%s/repeated recipe row and a name too long", b) << be << "duplicate toolong" << "RECEPADR";
            // Found while the last table is written, after the recipes were replaced.
            QTest::addRow("%s/price that is no number in the last table", b) << be << "price" << "VRPRECO";
        }
    }

    void importIsAllOrNothing()
    {
        QFETCH(QString, backend);
        QFETCH(QString, fault);
        QFETCH(QString, message);
        MAKE_RIG(rig, backend, QStringLiteral("inprocess"));
        const QString before = rig->db->snapshot();

        // Enough dishes that several batches of every table are written before the fault.
        ImportCall call;
        QList<QVariantList> prices; // PRATFILI, its prices as text
        const QString P = QStringLiteral("P");
        const int n = 2500;
        for (int i = 0; i < n; ++i) {
            const QString code = QStringLiteral("%1").arg(400000 + i);
            const bool last = i == n - 1;
            QString name = QStringLiteral("PRATO %1").arg(i);
            if (last && fault.contains(QLatin1String("toolong")))
                name = QString(60, QLatin1Char('X'));
            call.prato << dish(P, code, name);
            call.recePadr << QVariantList{P, code, QStringLiteral("000101"), QStringLiteral("KG"), 0.1};
            if (last && fault.contains(QLatin1String("duplicate")))
                call.recePadr << QVariantList{P, code, QStringLiteral("000101"), QStringLiteral("KG"), 0.2};
            call.receServ << QVariantList{QStringLiteral("0001"), QStringLiteral("00001"), P, code,
                                          last && fault == QLatin1String("nullkey") ? QVariant() : QVariant(QStringLiteral("000101")),
                                          QStringLiteral("KG"), 0.1};
            call.pratPadr << QVariantList{P, code, QStringLiteral("KG"), 1.0};
            prices << QVariantList{QStringLiteral("0001"), P, code,
                                   last && fault == QLatin1String("price") ? QVariant(QStringLiteral("caro"))
                                                                            : QVariant(QStringLiteral("9.5")),
                                   QVariant()};
        }
        if (fault == QLatin1String("apart"))
            call.recePadr << QVariantList{P, QStringLiteral("400000"), QStringLiteral("000101"), QStringLiteral("KG"), 0.2};
        // Update an existing dish too, so a rollback has something to put back.
        call.prato << dish(P, QStringLiteral("100001"), QStringLiteral("ARROZ ALTERADO"));
        if (fault.contains(QLatin1String("toolong")))
            std::swap(call.prato[n - 1], call.prato[n]);
        QList<FieldDef> wide = fieldsOf("PRATO");
        CallArgs args = call.args();
        if (fault.contains(QLatin1String("toolong"))) {
            // The screen cuts text to its width; a packet from elsewhere may not.
            wide[3].width = 0; // NMPRATO
            args[0] = packet(QStringLiteral("PRATO"), wide, call.prato);
        }
        // The prices travel as text, which the server converts (a packet from elsewhere).
        QList<FieldDef> priceAsText = fieldsOf("PRATFILI");
        priceAsText[3] = FieldDef::text(QStringLiteral("VRPRECO"), 20);
        args[6] = packet(QStringLiteral("PRATFILI"), priceAsText, prices);
        auto r = rig->net.call(QStringLiteral("Importacao"), args);
        QVERIFY(!r);
        QVERIFY2(r.error().contains(message), qPrintable(r.error()));
        QVERIFY2(r.error().contains(QStringLiteral("não foi gravada")), qPrintable(r.error()));
        QCOMPARE(rig->db->snapshot(), before);

        // The same connection imports again, replacing a recipe the destination holds.
        ImportCall again;
        again.prato = {dish(P, QStringLiteral("100001"), QStringLiteral("ARROZ ALTERADO"))};
        again.recePadr = {{P, QStringLiteral("100001"), QStringLiteral("000103"), QStringLiteral("KG"), 2.0}};
        auto ok = again.run(rig->net);
        QVERIFY2(ok, qPrintable(ok.error()));
        QCOMPARE(column(*rig->db, QStringLiteral("SELECT CDPRODUTO FROM RECEPADR WHERE CDFILAUXPRAT = 'P' AND CDPRATO = '100001'")),
                 QStringList{QStringLiteral("000103")});
    }

    void refusesBadArguments_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        const QList<QPair<const char *, const char *>> faults{
            {"branch unknown", "não cadastrada"},
            {"branch rescinded", "rescindido"},
            {"branch empty", "deve ser informada"},
            {"packet garbage", "PRATO é inválido"},
            {"packet not bytes", "não é um pacote"},
            {"foreign column", "coluna NMPRATO"},
            {"unknown service in the map", "Serviço destino 999"},
            {"unknown service in use", "Serviço destino 998"},
            {"flag as text", "TemReceServ"},
            {"too few arguments", "12 argumento"},
            {"dish without code", "não tem código"},
            {"recipe without dish columns", "não tem a coluna CDPRATO"},
        };
        for (const char *b : {"sqlite", "postgresql"})
            for (const auto &[f, m] : faults)
                QTest::addRow("%s/%s", b, f) << QString::fromLatin1(b) << QString::fromLatin1(f) << QString::fromUtf8(m);
    }

    void refusesBadArguments()
    {
        QFETCH(QString, backend);
        QFETCH(QString, fault);
        QFETCH(QString, message);
        MAKE_RIG(rig, backend, QStringLiteral("inprocess"));
        const QString before = rig->db->snapshot();

        ImportCall call;
        call.prato = {dish(QStringLiteral("P"), QStringLiteral("500001"), QStringLiteral("NOVO"))};
        call.recePadr = {{QStringLiteral("P"), QStringLiteral("500001"), QStringLiteral("000101"), QStringLiteral("KG"), 1.0}};
        if (fault == QLatin1String("branch unknown"))
            call.branch = QStringLiteral("0099");
        if (fault == QLatin1String("branch rescinded"))
            call.branch = QStringLiteral("0003");
        if (fault == QLatin1String("branch empty"))
            call.branch = QStringLiteral("  ");
        if (fault == QLatin1String("unknown service in the map"))
            call.servico = {{QStringLiteral("10"), QStringLiteral("999"), QStringLiteral("X"), QStringLiteral("X")}};
        if (fault == QLatin1String("unknown service in use"))
            call.servDestino = {{QStringLiteral("998"), QStringLiteral("X")}};
        if (fault == QLatin1String("dish without code"))
            call.prato << dish(QStringLiteral("P"), QString(), QStringLiteral("SEM CODIGO"));
        CallArgs args = call.args();
        if (fault == QLatin1String("packet garbage"))
            args[0] = QByteArray("\x9f\xff garbage", 10);
        if (fault == QLatin1String("packet not bytes"))
            args[2] = QStringLiteral("RECEFILI");
        if (fault == QLatin1String("foreign column")) {
            QList<FieldDef> f = fieldsOf("RECEPADR");
            f << FieldDef::text(QStringLiteral("NMPRATO"), 40);
            args[1] = packet(QStringLiteral("RECEPADR"), f, {});
        }
        if (fault == QLatin1String("flag as text"))
            args[10] = QStringLiteral("sim");
        if (fault == QLatin1String("too few arguments"))
            args.removeLast();
        if (fault == QLatin1String("recipe without dish columns")) {
            QList<FieldDef> f = fieldsOf("RECEPADR");
            f.removeAt(1);
            args[1] = packet(QStringLiteral("RECEPADR"), f, {{QStringLiteral("P"), QStringLiteral("000101")}});
        }
        auto r = rig->net.call(QStringLiteral("Importacao"), args);
        QVERIFY(!r);
        QVERIFY2(r.error().contains(message), qPrintable(r.error()));
        QCOMPARE(rig->db->snapshot(), before);
    }

    // The packets are read where they lie: what reaches the destination is what the decoded
    // tables held (codes trimmed of any blank, text cut to the packet's width, a dish code held as
    // a number, the last row of a repeated dish), and a packet cut short anywhere is refused whole.
    void packetsReadInPlace_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("fault");
        for (const char *b : {"sqlite", "postgresql"})
            for (const char *f : {"none", "dishes cut short", "recipes cut short", "map cut short"})
                QTest::addRow("%s/%s", b, f) << QString::fromLatin1(b) << QString::fromLatin1(f);
    }

    void packetsReadInPlace()
    {
        QFETCH(QString, backend);
        QFETCH(QString, fault);
        MAKE_RIG(rig, backend, QStringLiteral("inprocess"));
        const QString before = rig->db->snapshot();
        const QString P = QStringLiteral("P");
        const QString nbsp = QString(QChar(0x00A0)), emsp = QString(QChar(0x2003));
        ImportCall call;
        call.prato = {dish(P, QStringLiteral("700001") + nbsp, QStringLiteral("PRIMEIRO")),
                      dish(P, QStringLiteral("700002"), QStringLiteral("FEIJOADA COMPLETA")),
                      dish(P, QStringLiteral("700001"), QStringLiteral("SEGUNDO"))};
        call.receFili = {{QString(), P, emsp + QStringLiteral("700001"), QStringLiteral("000101") + nbsp, QStringLiteral("KG"), 1.0}};
        call.pratPadr = {{P, QStringLiteral("700001"), QStringLiteral("KG"), 1.0},
                         {P, QStringLiteral(" 700001 "), QStringLiteral("L"), 3.0}};
        CallArgs args = call.args();
        QList<FieldDef> prato = fieldsOf("PRATO");
        prato[3].width = 8; // NMPRATO, as a client with a narrower column would send it
        // RECEPADR with the dish code held as an integer.
        QList<FieldDef> rece = fieldsOf("RECEPADR");
        rece[1] = FieldDef::integer(QStringLiteral("CDPRATO"));
        args[1] = packet(QStringLiteral("RECEPADR"), rece,
                         {{P, qint64(700003), QStringLiteral("000101"), QStringLiteral("KG"), 4.0}});
        args[0] = packet(QStringLiteral("PRATO"), prato,
                         call.prato + QList<QVariantList>{dish(P, QStringLiteral("700003"), QStringLiteral("NUMERO"))});
        const auto cut = [&](int i) { args[i] = args[i].toByteArray().chopped(args[i].toByteArray().size() / 3); };
        if (fault == QLatin1String("dishes cut short"))
            cut(0);
        if (fault == QLatin1String("recipes cut short"))
            cut(1);
        if (fault == QLatin1String("map cut short")) {
            args[7] = packet(QStringLiteral("SERVICO"), serviceMapFields(),
                             {{QStringLiteral("10"), QStringLiteral("001"), QStringLiteral("A"), QStringLiteral("B")}});
            cut(7);
        }
        auto r = rig->net.call(QStringLiteral("Importacao"), args);
        if (fault != QLatin1String("none")) {
            QVERIFY(!r);
            QVERIFY2(r.error().contains(QStringLiteral("é inválido")), qPrintable(r.error()));
            QCOMPARE(rig->db->snapshot(), before);
            return;
        }
        QVERIFY2(r, qPrintable(r.error()));
        auto summary = ImportSummary::decode(r.value());
        QVERIFY(summary);
        QCOMPARE(summary->dishesWritten, 3);
        SeededDb &db = *rig->db;
        QCOMPARE(column(db, QStringLiteral("SELECT NMPRATO FROM PRATO WHERE CDPRATO LIKE '70000%'")),
                 (QStringList{QStringLiteral("FEIJOADA"), QStringLiteral("NUMERO"), QStringLiteral("SEGUNDO")}));
        QCOMPARE(column(db, QStringLiteral("SELECT CDPRATO FROM PRATO WHERE CDPRATO LIKE '70000%'")),
                 (QStringList{QStringLiteral("700001"), QStringLiteral("700002"), QStringLiteral("700003")}));
        QCOMPARE(column(db, QStringLiteral("SELECT CDPRATO || '/' || CDPRODUTO FROM RECEPADR WHERE CDPRATO LIKE '70000%'")),
                 QStringList{QStringLiteral("700003/000101")});
        QCOMPARE(column(db, QStringLiteral("SELECT SGUNIDADE FROM PRATPADR WHERE CDPRATO = '700001'")),
                 QStringList{QStringLiteral("L")});
        // Codes are kept trimmed, blanks beyond ASCII too.
        QCOMPARE(column(db, QStringLiteral("SELECT LENGTH(CDPRATO) || '/' || LENGTH(CDPRODUTO) FROM RECEFILI "
                                           "WHERE CDFILIAL = '0001' AND CDPRATO LIKE '70000%'")),
                 QStringList{QStringLiteral("6/6")});
        QCOMPARE(column(db, QStringLiteral("SELECT LENGTH(CDPRATO) FROM PRATO WHERE CDPRATO LIKE '700001%'")),
                 QStringList{QStringLiteral("6")});
    }

    void openRefusesDatabaseWithoutTables()
    {
        QTemporaryDir dir;
        auto module = RdmImpoPrato::open(QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("vazio.db")));
        QVERIFY(!module);
        const QString why = module.error();
        QVERIFY2(why.contains(QLatin1String("initdb")), qPrintable(why));
    }

    // A connection without a host runs the module in this process on the environment's database.
    void embeddedConnection()
    {
        QString why;
        auto db = SeededDb::create(SeededDb::Kind::SQLite, true, &why);
        QVERIFY2(db, qPrintable(why));
        registerEmbeddedServer();
        Ambiente &env = Ambiente::instance();
        const QString saved = env.databaseUrl;
        Database::useDestination(env, db->url());
        {
            NetConnection net;
            net.setConnected(true);
            QVERIFY2(net.connected(), qPrintable(net.lastError()));
            MemTable param;
            QVERIFY(loadInto(param, Rdm::GetParamGeral(net)));
            QCOMPARE(param.text(u"CDPICTPRAT"), QStringLiteral("999.999"));
            net.setConnected(false);
            QVERIFY(!net.connected());
        }
        env.databaseUrl.clear();
        {
            NetConnection net;
            auto r = Rdm::GetParamGeral(net);
            QVERIFY(!r);
            QVERIFY2(r.error().contains(QLatin1String("IMP_DB")), qPrintable(r.error()));
        }
        Database::useDestination(env, saved);
    }
};

QTEST_GUILESS_MAIN(TestRdmImpoPrato)
#include "tst_rdmimpoprato.moc"
