// Whatever a client sends, the module answers with a message and the destination stays as it was:
// malformed requests, flagged dishes with bad rows, unflagged rows the destination cannot store;
// database failures reach the operator in words with the driver's text as detail; a PostgreSQL
// connection that went away is opened again.
#include "rig.h"
#include "wire.h"

#include "dberror.h"
#include "framework.h"
#include "messages.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

class TestRobustness : public QObject {
    Q_OBJECT

private:
    static void backends()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << QStringLiteral("sqlite");
        QTest::newRow("postgresql") << QStringLiteral("postgresql");
    }

    static QCborArray emptyImport()
    {
        QCborArray args;
        for (int i = 0; i < 8; ++i)
            args.append(QByteArray());
        args << qint64(-1) << qint64(0) << qint64(0) << QStringLiteral("0001");
        return args;
    }

private slots:
    // Requests no screen sends: each gets a message, and nothing is written.
    void malformedRequests_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("method");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<QString>("says"); // what the failure must name, when anything
        const auto req = [](const QCborArray &a) { return Wire::encodeRequest(a); };
        QCborArray wrongTypes = emptyImport();
        wrongTypes[11] = qint64(1);
        QCborArray nested;
        QCborValue deep = QCborArray{};
        for (int i = 0; i < 2000; ++i)
            deep = QCborArray{deep};
        nested.append(deep);
        QCborArray longBranch = emptyImport();
        longBranch[11] = QString(5000, QLatin1Char('9'));
        MemTable dirs(QStringLiteral("DIRETORIOS"));
        QList<FieldDef> dirFields = Catalogue::table(u"DIRETORIOS")->columns;
        dirFields[1].width = 0; // a client that does not cut the text to the column
        dirs.setFields(dirFields);
        dirs.createDataSet();
        dirs.append();
        dirs.setValue(u"CDPROGRAMA", QStringLiteral("IMP40500"));
        dirs.setValue(u"DSDIRETORIO", QString(101, QLatin1Char('d')));
        dirs.post();
        const QByteArray longDir = req({DataPacket::saveDelta(dirs)});
        // A text longer than the width its packet declares: a client that does not cut it.
        QList<FieldDef> dishFields = fieldsOf("PRATO");
        dishFields[3].width = 0;
        CallArgs longName = ImportCall{}.args();
        longName[0] = declaredWidth(packet(QStringLiteral("PRATO"), dishFields,
                                           {dish(QStringLiteral("P"), QStringLiteral("630001"), QString(1 << 20, u'N'))}),
                                    3, 40);
        QCborArray packetText = emptyImport();
        packetText[0] = QStringLiteral("PRATO");
        for (const char *b : {"sqlite", "postgresql"}) {
            const QString be = QString::fromLatin1(b);
            // The call that used to end the server: eight empty packets.
            QTest::addRow("%s/empty packets", b) << be << "Importacao" << req(emptyImport()) << true << QString();
            QTest::addRow("%s/branch as a number", b) << be << "Importacao" << req(wrongTypes) << false << QString();
            QTest::addRow("%s/branch of 5000 digits", b) << be << "Importacao" << req(longBranch) << false << QString();
            QTest::addRow("%s/packet as text", b) << be << "Importacao" << req(packetText) << false << QString();
            QTest::addRow("%s/body not CBOR", b) << be << "Importacao" << QByteArray("\xff\xfe garbage") << false << QString();
            QTest::addRow("%s/body not a list", b) << be << "GetPrato" << QCborValue(42).toCbor() << false << QString();
            QTest::addRow("%s/empty body", b) << be << "GetParamGeral" << QByteArray() << false << QString();
            QTest::addRow("%s/deep nesting", b) << be << "SetDiretorios" << QCborValue(nested).toCbor() << false << QString();
            QTest::addRow("%s/directory longer than its column", b) << be << "SetDiretorios" << longDir << false << QString();
            QTest::addRow("%s/delta garbage", b) << be << "SetDiretorios" << req({QByteArray("\x01\x02\x03", 3)}) << false << QString();
            QTest::addRow("%s/lookup code too long", b)
                << be << "GetPesqPrato" << req({QString(11, QLatin1Char('1')), QStringLiteral("0001")}) << false << QString();
            QTest::addRow("%s/name longer than its packet's column", b)
                << be << "Importacao" << Wire::encodeRequest(longName) << false << "NMPRATO";
            QTest::addRow("%s/lookup with numbers", b) << be << "GetPesqPrato" << req({qint64(1), qint64(2)}) << false << QString();
        }
    }

    void malformedRequests()
    {
        QFETCH(QString, backend);
        QFETCH(QString, method);
        QFETCH(QByteArray, body);
        QFETCH(bool, succeeds);
        QFETCH(QString, says);
        MAKE_RIG(rig, backend, QStringLiteral("inprocess"));
        const QString before = rig->db->snapshot();
        auto r = Wire::decodeResponse(rig->module->handle(method, body));
        QVERIFY2(bool(r) == succeeds, qPrintable(r.error()));
        if (!r)
            QVERIFY(!r.error().trimmed().isEmpty());
        QVERIFY2(r.error().contains(says), qPrintable(r.error()));
        QCOMPARE(rig->db->snapshot(), before);
        // The module still answers.
        QVERIFY(Rdm::GetParamGeral(rig->net));
    }

    // A flagged dish is not written, whatever its values or its recipe rows; the clean dishes of
    // the same call are.
    void flaggedDishesNeverFailTheCall_data() { backends(); }
    void flaggedDishesNeverFailTheCall()
    {
        QFETCH(QString, backend);
        MAKE_RIG(rig, backend, QStringLiteral("inprocess"));
        const QString P = QStringLiteral("P");
        const QString flag = QStringLiteral("0000100000");
        ImportCall call;
        call.prato = {dish(P, QString(), QStringLiteral("SEM CODIGO"), flag),
                      dish(P, QStringLiteral("610001"), QStringLiteral("LIMPO")),
                      dish(P, QStringLiteral("610002"), QStringLiteral("REPETIDO"), flag),
                      dish(P, QStringLiteral("610002"), QStringLiteral("REPETIDO"), flag),
                      dish(P, QStringLiteral("610003"), QString(60, QLatin1Char('X')), flag)};
        call.recePadr = {{P, QStringLiteral("610001"), QStringLiteral("000101"), QStringLiteral("KG"), 1.0},
                         {P, QStringLiteral("610002"), QVariant(), QStringLiteral("KG"), 1.0},
                         {P, QStringLiteral("610002"), QStringLiteral("000101"), QStringLiteral("KG"), 1.0},
                         {P, QStringLiteral("610002"), QStringLiteral("000101"), QStringLiteral("KG"), 2.0},
                         {P, QString(), QStringLiteral("000101"), QStringLiteral("KG"), 1.0}};
        call.receServ = {{QStringLiteral("0001"), QVariant(), P, QStringLiteral("610003"), QStringLiteral("000101"),
                          QStringLiteral("KG"), 0.1}};
        QList<FieldDef> wide = fieldsOf("PRATO");
        wide[3].width = 0; // NMPRATO: a packet from elsewhere may carry a longer name
        CallArgs args = call.args();
        args[0] = packet(QStringLiteral("PRATO"), wide, call.prato);
        auto r = rig->net.call(QStringLiteral("Importacao"), args);
        QVERIFY2(r, qPrintable(r.error()));
        auto summary = ImportSummary::decode(r.value());
        QVERIFY(summary);
        QCOMPARE(summary->dishesWritten, 1);
        QCOMPARE(summary->dishesNotWritten.size(), 4);
        QCOMPARE(rig->db->count(QStringLiteral("PRATO"), QStringLiteral("CDPRATO LIKE '61000%'")), 1);
        QCOMPARE(rig->db->count(QStringLiteral("RECEPADR"), QStringLiteral("CDPRATO LIKE '61000%'")), 1);
    }

    // Rows of a clean dish that the destination cannot store, from a client that did not flag them:
    // the call is refused before anything is written, naming the dish and the table, and giving the
    // dish's row of the dish packet for the client to name its line in the file.
    void unflaggedBadRowsRefusedWhole_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("table");
        for (const char *b : {"sqlite", "postgresql"}) {
            const QString be = QString::fromLatin1(b);
            QTest::addRow("%s/recipe without product", b) << be << "noproduct" << "RECEFILI";
            QTest::addRow("%s/recipe key repeated", b) << be << "repeated" << "RECEPADR";
            QTest::addRow("%s/service recipe without service", b) << be << "noservice" << "RECESERV";
            QTest::addRow("%s/dish without code", b) << be << "nocode" << "PRATO";
            QTest::addRow("%s/NUL in a name", b) << be << "nul" << "NMPRATO";
            QTest::addRow("%s/quantity beyond its column", b) << be << "large" << "QTPRODUTO";
        }
    }

    void unflaggedBadRowsRefusedWhole()
    {
        QFETCH(QString, backend);
        QFETCH(QString, fault);
        QFETCH(QString, table);
        MAKE_RIG(rig, backend, QStringLiteral("inprocess"));
        const QString before = rig->db->snapshot();
        const QString P = QStringLiteral("P");
        const QString code = QStringLiteral("620001");
        ImportCall call;
        call.prato = {dish(P, QStringLiteral("620000"), QStringLiteral("OUTRO")),
                      dish(P, code, fault == QLatin1String("nul") ? QStringLiteral("RU") + QChar(0) + QStringLiteral("IM")
                                                                  : QStringLiteral("RUIM"))};
        call.recePadr = {{P, code, QStringLiteral("000101"), QStringLiteral("KG"), fault == QLatin1String("large") ? -1e12 : 1.0}};
        if (fault == QLatin1String("repeated"))
            call.recePadr << QVariantList{P, code, QStringLiteral(" 000101"), QStringLiteral("L"), 2.0};
        if (fault == QLatin1String("noproduct"))
            call.receFili = {{QStringLiteral("0001"), P, code, QStringLiteral("  "), QStringLiteral("KG"), 1.0}};
        if (fault == QLatin1String("noservice"))
            call.receServ = {{QStringLiteral("0001"), QVariant(), P, code, QStringLiteral("000101"), QStringLiteral("KG"), 1.0}};
        if (fault == QLatin1String("nocode"))
            call.prato << dish(P, QStringLiteral(" "), QStringLiteral("SEM CODIGO"));
        auto r = call.run(rig->net);
        QVERIFY(!r);
        QVERIFY2(r.error().contains(table), qPrintable(r.error()));
        if (fault != QLatin1String("nocode")) {
            QVERIFY2(r.error().contains(code), qPrintable(r.error()));
            QCOMPARE(r.failure().dishRow, 1);
        }
        QVERIFY2(!r.error().contains(QLatin1String("constraint")), qPrintable(r.error()));
        QCOMPARE(rig->db->snapshot(), before);
    }

    void causesInWords_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("key");
        QTest::newRow("sqlite busy") << "5" << "database is locked" << "BD_Bloqueado";
        QTest::newRow("sqlite busy, extended code") << "517" << "" << "BD_Bloqueado";
        QTest::newRow("sqlite read-only") << "8" << "attempt to write a readonly database" << "BD_SomenteLeitura";
        QTest::newRow("sqlite read-only, text alone") << "" << "attempt to write a readonly database Unable to fetch row"
                                                     << "BD_SomenteLeitura";
        QTest::newRow("sqlite full") << "13" << "database or disk is full" << "BD_DiscoCheio";
        QTest::newRow("sqlite not a database") << "26" << "file is not a database" << "BD_NaoAbre";
        QTest::newRow("sqlite cannot open") << "14" << "unable to open database file" << "BD_NaoAbre";
        QTest::newRow("sqlite unique") << "2067" << "UNIQUE constraint failed: RECEPADR.CDPRATO" << "BD_ChaveRepetida";
        QTest::newRow("sqlite not null") << "" << "NOT NULL constraint failed: RECEFILI.CDPRODUTO" << "BD_SemValor";
        QTest::newRow("pg unique") << "23505" << "duplicate key value violates unique constraint" << "BD_ChaveRepetida";
        QTest::newRow("pg read-only") << "25006" << "cannot execute INSERT in a read-only transaction" << "BD_SomenteLeitura";
        QTest::newRow("pg disk full") << "53100" << "could not extend file" << "BD_DiscoCheio";
        QTest::newRow("pg terminated") << "57P01" << "terminating connection due to administrator command" << "BD_ConexaoPerdida";
        QTest::newRow("pg gone, no code") << "" << "server closed the connection unexpectedly" << "BD_ConexaoPerdida";
        QTest::newRow("pg NUL byte") << "22021" << "invalid byte sequence for encoding \"UTF8\": 0x00" << "BD_CaractereInvalido";
        QTest::newRow("pg lock timeout") << "55P03" << "could not obtain lock" << "BD_Bloqueado";
        QTest::newRow("pg deadlock") << "40P01" << "deadlock detected" << "BD_Conflito";
        QTest::newRow("pg serialization") << "40001" << "could not serialize access due to concurrent update"
                                          << "BD_Conflito";
        // Connecting, where each cause asks for something else of the person.
        QTest::newRow("pg password refused") << "" << "connection to server at \"127.0.0.1\", port 5432 failed: FATAL:  "
                                                      "password authentication failed for user \"eu\"" << "BD_AcessoRecusado";
        QTest::newRow("pg no password") << "" << "connection to server at \"db\", port 5432 failed: fe_sendauth: no password supplied"
                                        << "BD_SemSenha";
        QTest::newRow("pg no server") << "" << "connection to server at \"127.0.0.1\", port 1 failed: Connection refused\n\tIs "
                                               "the server running on that host and accepting TCP/IP connections?"
                                      << "BD_SemServidor";
        QTest::newRow("pg unknown host") << "" << "could not translate host name \"nada\" to address: Name or service not known"
                                         << "BD_SemServidor";
        QTest::newRow("pg no such database") << "" << "connection to server at \"127.0.0.1\", port 5432 failed: FATAL:  "
                                                      "database \"nenhum\" does not exist" << "BD_Inexistente";
        QTest::newRow("pg no such database, code") << "3D000" << "database \"nenhum\" does not exist" << "BD_Inexistente";
        QTest::newRow("pg timeout") << "" << "connection to server at \"10.0.0.9\", port 5432 failed: timeout expired"
                                    << "BD_TempoEsgotado";
        QTest::newRow("unknown") << "42601" << "syntax error" << "BD_Falha";
    }

    void causesInWords()
    {
        QFETCH(QString, code);
        QFETCH(QString, text);
        QFETCH(QString, key);
        const Failure f = DbError::describe(QStringLiteral("gravar RECEPADR"), code, text);
        QCOMPARE(f.key, key);
        QVERIFY(TMessages::instance().contains(key));
        QVERIFY2(f.message.startsWith(QStringLiteral("Não foi possível gravar RECEPADR")), qPrintable(f.message));
        QCOMPARE(f.detail, text.trimmed());
        QVERIFY(!f.message.contains(text) || text.isEmpty());
    }

    // A destination that can be read but not written: the operator reads why, in Portuguese; the
    // driver's words travel as detail, and the detail reaches the detail sink.
    void readOnlyDestination()
    {
        QString why;
        auto seeded = SeededDb::create(SeededDb::Kind::SQLite, true, &why);
        QVERIFY2(seeded, qPrintable(why));
        const QString path = seeded->url().mid(7);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("readonly"));
        {
            db.setDatabaseName(path);
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
            QVERIFY(db.open());
            MemTable dirs(QStringLiteral("DIRETORIOS"));
            dirs.setFields(Catalogue::table(u"DIRETORIOS")->columns);
            dirs.createDataSet();
            dirs.append();
            dirs.setValue(u"CDPROGRAMA", QStringLiteral("IMP40500"));
            dirs.setValue(u"DSDIRETORIO", QStringLiteral("/dados"));
            dirs.post();
            auto r = RdmMethods::run(db, QStringLiteral("SetDiretorios"), CallArgs{DataPacket::saveDelta(dirs)});
            QVERIFY(!r);
            QCOMPARE(r.failure().key, QStringLiteral("BD_SomenteLeitura"));
            QVERIFY2(!r.error().contains(QLatin1String("readonly")), qPrintable(r.error()));
            QVERIFY2(r.failure().detail.contains(QLatin1String("readonly")), qPrintable(r.failure().detail));

            // Over the wire the detail stays apart, and CheckResultServ hands it to the sink.
            auto decoded = Wire::decodeResponse(Wire::encodeFailure(r.failure()));
            QCOMPARE(decoded.failure().key, r.failure().key);
            QCOMPARE(decoded.failure().detail, r.failure().detail);
            QString logged;
            setFailureDetailSink([&](const QString &d) { logged = d; });
            QVERIFY_THROWS_EXCEPTION(AbandonedAction, CheckResultServ(decoded, false));
            setFailureDetailSink({});
            QCOMPARE(logged, r.failure().detail);
            db.close();
        }
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("readonly"));
    }

    // A file that is no database says that it cannot be opened, not that the tables are missing.
    void unopenableDatabase_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");
        QTest::newRow("garbage") << QByteArray(8192, '\x5a') << QStringLiteral("não pode ser aberto");
        QTest::newRow("empty file") << QByteArray() << QStringLiteral("initdb");
    }

    void unopenableDatabase()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("destino.db")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        auto module = RdmImpoPrato::open(QStringLiteral("sqlite:") + f.fileName());
        QVERIFY(!module);
        const QString why = module.error();
        QVERIFY2(why.contains(expected), qPrintable(why));
    }

    // PostgreSQL restarted under the server: the next call opens a new connection and runs.
    void reconnectsAfterTheBackendIsGone_data()
    {
        QTest::addColumn<QString>("method");
        QTest::newRow("read") << QStringLiteral("GetParamGeral");
        QTest::newRow("import") << QStringLiteral("Importacao");
        QTest::newRow("directory") << QStringLiteral("SetDiretorios");
    }

    void reconnectsAfterTheBackendIsGone()
    {
        QFETCH(QString, method);
        MAKE_RIG(rig, QStringLiteral("postgresql"), QStringLiteral("http"));
        QVERIFY(Rdm::GetParamGeral(rig->net));
        for (int round = 0; round < 2; ++round) {
            QSqlQuery kill(rig->db->db());
            QVERIFY2(kill.exec(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                              "WHERE datname = current_database() AND pid <> pg_backend_pid()")),
                     qPrintable(kill.lastError().text()));
            QTest::qWait(200);
            Result<QByteArray> r = QByteArray();
            if (method == QLatin1String("GetParamGeral")) {
                r = Rdm::GetParamGeral(rig->net);
            } else if (method == QLatin1String("Importacao")) {
                ImportCall call;
                call.prato = {dish(QStringLiteral("P"), QStringLiteral("63000%1").arg(round), QStringLiteral("APOS"))};
                r = call.run(rig->net);
            } else {
                MemTable dirs(QStringLiteral("DIRETORIOS"));
                dirs.setFields(Catalogue::table(u"DIRETORIOS")->columns);
                dirs.createDataSet();
                dirs.append();
                dirs.setValue(u"CDPROGRAMA", QStringLiteral("IMP40500"));
                dirs.setValue(u"DSDIRETORIO", QStringLiteral("/r%1").arg(round));
                dirs.post();
                r = Rdm::SetDiretorios(rig->net, DataPacket::saveDelta(dirs));
            }
            QVERIFY2(r, qPrintable(r.error()));
        }
    }
};

QTEST_GUILESS_MAIN(TestRobustness)
#include "tst_robustness.moc"
