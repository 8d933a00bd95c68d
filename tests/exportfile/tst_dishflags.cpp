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
    // Each position's words exactly as the operator reads them, so a text moved to another
    // position, or two texts swapped in the catalogue, is caught.
    QTest::addColumn<QString>("flags");
    QTest::addColumn<int>("line");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("none") << "0000000000" << 0 << QStringList{};
    QTest::newRow("positions 8 to 10 say nothing") << "0000000111" << 0 << QStringList{};
    QTest::newRow("1 unit") << "1000000000" << 0 << QStringList{"Unidade de medida não existe no destino."};
    QTest::newRow("2 product") << "0100000000" << 0 << QStringList{"Produto não existe no destino."};
    QTest::newRow("3 service") << "0010000000" << 0 << QStringList{"Serviço não existe no destino."};
    QTest::newRow("4 dish") << "0001000000" << 0 << QStringList{"Prato já existe no destino PUDIM DA CASA."};
    QTest::newRow("5 key") << "0000100000" << 0
                           << QStringList{"Prato com linha sem chave ou repetida no arquivo."};
    QTest::newRow("6 NUL, line known") << "0000010000" << 12
                                       << QStringList{"Prato com caractere nulo (NUL) na linha 12 do arquivo, que o destino não grava."};
    QTest::newRow("6 NUL, line unknown") << "0000010000" << 0
                                         << QStringList{"Prato com caractere nulo (NUL) na linha ? do arquivo, que o destino não grava."};
    QTest::newRow("7 value") << "0000001000" << 0
                             << QStringList{"Prato com valor numérico maior que o destino aceita."};
    QTest::newRow("in position order") << "1000101000" << 0
                                       << QStringList{"Unidade de medida não existe no destino.",
                                                      "Prato com linha sem chave ou repetida no arquivo.",
                                                      "Prato com valor numérico maior que o destino aceita."};
}

void TestDishFlags::texts()
{
    QFETCH(QString, flags);
    QFETCH(int, line);
    QFETCH(QStringList, expected);
    QCOMPARE(DishFlags::texts(flags, QStringLiteral("PUDIM DA CASA"), line), expected);
    // Raising by position gives back the same flags text.
    DishFlags raised;
    for (int p = 0; p < DishFlags::kPositions; ++p)
        if (flags.at(p) == u'1')
            raised.raise(DishFlags::Position(p));
    QCOMPARE(raised.text().left(DishFlags::kPositions), flags.left(DishFlags::kPositions));
}

QTEST_MAIN(TestDishFlags)
#include "tst_dishflags.moc"
