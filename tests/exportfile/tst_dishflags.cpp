// A dish's flags: merging keeps what was raised, a text of another width starts from no errors,
// and the review's lines come in position order with their names and lines filled in.
#include "dishflags.h"

#include <QTest>

class TestDishFlags : public QObject {
    Q_OBJECT
private slots:
    void merge_data();
    void merge();
    void texts_data();
    void texts();
};

void TestDishFlags::merge_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("merged");
    QTest::newRow("a line adds its own") << "0001000000" << "1000000000" << "1001000000";
    QTest::newRow("a raised position stays raised") << "0000100000" << "0000000000" << "0000100000";
    QTest::newRow("an empty dish value starts clean") << "" << "0000010000" << "0000010000";
    QTest::newRow("a short value starts clean") << "11" << "0010000000" << "0010000000";
    QTest::newRow("a short line raises what it has") << "0000000000" << "01" << "0100000000";
}

void TestDishFlags::merge()
{
    QFETCH(QString, current);
    QFETCH(QString, line);
    QFETCH(QString, merged);
    DishFlags flags(current);
    flags.merge(line);
    QCOMPARE(flags.text(), merged);
    QCOMPARE(flags.hasErrors(), merged.contains(u'1'));
}

void TestDishFlags::texts_data()
{
    QTest::addColumn<QString>("flags");
    QTest::addColumn<int>("line");
    QTest::addColumn<QStringList>("keys"); // what each line must start with
    QTest::newRow("none") << "0000000000" << 0 << QStringList{};
    QTest::newRow("positions 8 to 10 say nothing") << "0000000111" << 0 << QStringList{};
    QTest::newRow("all seven, in order") << "1111111000" << 12
                                         << QStringList{"Erro_UnidMedida", "Erro_Produto", "Erro_Servico", "Erro_Prato",
                                                        "Erro_Chave", "Erro_Caractere", "Erro_Valor"};
}

void TestDishFlags::texts()
{
    QFETCH(QString, flags);
    QFETCH(int, line);
    QFETCH(QStringList, keys);
    const QStringList texts = DishFlags::texts(flags, QStringLiteral("PUDIM DA CASA"), line);
    QCOMPARE(texts.size(), keys.size());
    for (qsizetype i = 0; i < texts.size(); ++i)
        QVERIFY2(!texts[i].contains(QStringLiteral("%s")), qPrintable(texts[i]));
    if (keys.size() == DishFlags::kPositions) {
        QVERIFY(texts[DishFlags::Prato].contains(QStringLiteral("PUDIM DA CASA")));
        QVERIFY(texts[DishFlags::Caractere].contains(QStringLiteral("12")));
        // Without a known line the text still reads whole.
        QVERIFY(DishFlags::texts(u"0000010000", {}, 0).value(0).contains(u'?'));
    }
    DishFlags raised;
    for (const QString &key : keys)
        for (int p = 0; p < DishFlags::kPositions; ++p)
            if (DishFlags::key(DishFlags::Position(p)) == key)
                raised.raise(DishFlags::Position(p));
    QCOMPARE(raised.text().left(DishFlags::kPositions), flags.left(DishFlags::kPositions));
}

QTEST_MAIN(TestDishFlags)
#include "tst_dishflags.moc"
