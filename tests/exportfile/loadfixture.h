#pragma once
// The load pass's view of a seeded destination (tests/support/seededserver.h): reached in process,
// and the operator environment's database, as the screen has it.
#include "ambiente.h"
#include "appserver.h"
#include "database.h"
#include "framework.h"
#include "handlerboundary.h"
#include "importsession.h"
#include "loadpass.h"
#include "seededserver.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

struct LoadFixture : SeededServer {
    static std::unique_ptr<LoadFixture> make(const QString &kind, QString *why)
    {
        auto f = std::make_unique<LoadFixture>();
        if (!f->open(kind, Transport::InProcess, why))
            return nullptr;
        f->useAsOperatorDatabase();
        return f;
    }
};

// What the pass showed, in order where it matters.
struct RecordingObserver : LoadObserver {
    int maximum = 0;
    QList<int> positions;
    QStringList statuses;
    int serverCallsOpen = 0; // started and not ended: 0 once the pass is over, on every way out
    int dishFlaggedCalls = 0;
    int serviceTabShown = 0;
    void setProgressRange(int m) override { maximum = m; }
    void setProgress(int p) override { positions << p; }
    void setStatusText(const QString &t) override { statuses << t; }
    void serverCallStarted(int) override { ++serverCallsOpen; }
    void serverCallEnded() override { --serverCallsOpen; }
    void dishFlagged() override { ++dishFlaggedCalls; }
    void showServiceTab() override { ++serviceTabShown; }
};

// What a load pass ended with, told to the message sink as the screen's handler boundary tells
// it: "" when it completed, the catalogue key of a refusal, "!" and the text of a failure without
// a key.
// The field the last failed pass named (Failure::field).
inline QString &lastPassField()
{
    static QString field;
    return field;
}

inline QString passOutcome(const Status &loaded)
{
    lastPassField() = loaded ? QString() : loaded.failure().field;
    if (loaded)
        return {};
    const Failure &f = loaded.failure();
    runAction([&] { MensErro(f.message, !LoadPass::cancelled(f), f.key); });
    return f.key.isEmpty() ? QLatin1Char('!') + f.message : f.key;
}

// Runs the load pass with the session's own lookups (passOutcome).
inline QString runPass(ImportSession &s)
{
    return passOutcome(s.Grava_Tabelas());
}

// A sink that keeps messages instead of printing them.
struct QuietSink : MessageSink {
    QStringList errors;
    MessageSink *previous = setMessageSink(this);
    ~QuietSink() override { setMessageSink(previous); }
    void showError(const QString &t) override { errors << t; }
    void showInfo(const QString &) override {}
};

inline QString cell(const MemTable &t, int row, const char *column)
{
    return t.valueAt(row, t.fieldIndex(QString::fromLatin1(column))).toString();
}
