// The event-handler boundary: what the person is told for each way a handler can end, and that
// nothing escapes it, not even from a sink that fails while reporting.
#include "framework.h"
#include "handlerboundary.h"

#include <QTest>
#include <stdexcept>

namespace {
struct RecordingSink : MessageSink {
    QStringList errors;
    bool throwOnShow = false;
    void showError(const QString &t) override
    {
        errors << t;
        if (throwOnShow)
            throw std::runtime_error("sink down");
    }
    void showInfo(const QString &) override {}
};
} // namespace

class TstHandlerBoundary : public QObject {
    Q_OBJECT
private slots:
    void ending_data()
    {
        QTest::addColumn<int>("how");
        QTest::addColumn<bool>("sinkThrows");
        QTest::addColumn<bool>("ran");
        QTest::addColumn<QStringList>("shown");
        const QStringList none;
        QTest::newRow("completes") << 0 << false << true << none;
        // MensErro only carries its text: the boundary shows it, once.
        QTest::newRow("abandoned") << 1 << false << false << QStringList{QStringLiteral("Filial não cadastrada.")};
        QTest::newRow("abandoned, silent") << 2 << false << false << none;
        QTest::newRow("std exception") << 3 << false << false << QStringList{QStringLiteral("disco cheio")};
        QTest::newRow("anything else") << 4 << false << false << QStringList{QStringLiteral("Erro inesperado.")};
        QTest::newRow("sink throws, std") << 3 << true << false << QStringList{QStringLiteral("disco cheio")};
        QTest::newRow("sink throws, other") << 4 << true << false << QStringList{QStringLiteral("Erro inesperado.")};
    }
    void ending()
    {
        QFETCH(int, how);
        QFETCH(bool, sinkThrows);
        QFETCH(bool, ran);
        QFETCH(QStringList, shown);
        RecordingSink sink;
        MessageSink *previous = setMessageSink(&sink);
        sink.throwOnShow = sinkThrows;
        int after = 0;
        const bool result = runAction([&] {
            switch (how) {
            case 1:
                MensErro(QStringLiteral("Filial não cadastrada."));
            case 2:
                throw AbandonedAction(QStringLiteral("x"), QStringLiteral("Filial_N_Cad"), false);
            case 3:
                throw std::runtime_error("disco cheio");
            case 4:
                throw 42;
            }
            ++after;
        });
        setMessageSink(previous);
        QCOMPARE(result, ran);
        QCOMPARE(after, ran ? 1 : 0);
        QCOMPARE(sink.errors, shown);
    }
};

QTEST_GUILESS_MAIN(TstHandlerBoundary)
#include "tst_handlerboundary.moc"
