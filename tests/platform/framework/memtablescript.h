#pragma once
// The in-memory table's test scripts: a small table of codes, names and quantities, and the
// operations written as words ("ins =x post"), so that one data table covers many scenarios.
#include "memtable.h"

#include <QStringList>
#include <QTest>

#include <stdexcept>

namespace MemTableScript {

struct Abandon : std::runtime_error {
    Abandon() : std::runtime_error("abandoned") {}
};

// A table CODE t4, NAME t10, QTY num with rows "a".."" given by their codes.
void makeTable(MemTable &t, const QStringList &codes)
{
    t.setFields({FieldDef::text("CODE", 4), FieldDef::text("NAME", 10), FieldDef::number("QTY")});
    t.createDataSet();
    for (const QString &c : codes) {
        t.append();
        t.setText(0, c);
        t.post();
    }
    t.mergeChangeLog();
    if (!codes.isEmpty())
        t.first();
}

QString codes(const MemTable &t)
{
    QStringList out;
    for (int r = 0; r < t.rowCount(); ++r)
        out << t.textAt(r, 0);
    return out.join(u',');
}

void recordEvents(MemTable &t, QStringList &log)
{
    auto rec = [&log](const char *name) { return [&log, name](MemTable &) { log << QString::fromLatin1(name); }; };
    auto &e = t.events;
    e.beforeInsert = rec("beforeInsert");
    e.afterInsert = rec("afterInsert");
    e.onNewRecord = rec("onNewRecord");
    e.beforeEdit = rec("beforeEdit");
    e.afterEdit = rec("afterEdit");
    e.beforePost = rec("beforePost");
    e.afterPost = rec("afterPost");
    e.beforeCancel = rec("beforeCancel");
    e.afterCancel = rec("afterCancel");
    e.beforeDelete = rec("beforeDelete");
    e.afterDelete = rec("afterDelete");
    e.afterScroll = rec("afterScroll");
    e.afterOpen = rec("afterOpen");
    e.beforeClose = rec("beforeClose");
    e.afterClose = rec("afterClose");
    // The state goes to observers, as the table's data source takes it.
    struct StateLog final : MemTableObserver {
        QStringList *log = nullptr;
        void stateChanged(MemTable &) override { *log << QStringLiteral("stateChange"); }
    };
    static std::vector<std::unique_ptr<StateLog>> observers; // one per recorded table, for the test's life
    observers.push_back(std::make_unique<StateLog>());
    observers.back()->log = &log;
    t.addObserver(observers.back().get());
}

// Runs "op op op": ins, app, edit, post, cancel, del, next, prior, first, last, mN (moveTo N),
// empty, close, open, merge, undo (cancelUpdates), =X (CODE := X), qN (QTY := N).
void run(MemTable &t, const QString &script)
{
    for (const QString &op : script.split(u' ', Qt::SkipEmptyParts)) {
        if (op == u"ins") t.insert();
        else if (op == u"app") t.append();
        else if (op == u"edit") t.edit();
        else if (op == u"post") t.post();
        else if (op == u"cancel") t.cancel();
        else if (op == u"del") t.deleteRow();
        else if (op == u"next") t.next();
        else if (op == u"prior") t.prior();
        else if (op == u"first") t.first();
        else if (op == u"last") t.last();
        else if (op == u"empty") t.emptyTable();
        else if (op == u"close") t.close();
        else if (op == u"open") t.open();
        else if (op == u"merge") t.mergeChangeLog();
        else if (op == u"undo") t.cancelUpdates();
        else if (op.startsWith(u'm')) t.moveTo(op.mid(1).toInt());
        else if (op.startsWith(u'=')) t.setText(0, op.mid(1));
        else if (op.startsWith(u'q')) t.setNumber(2, op.mid(1).toDouble());
        else QFAIL(qPrintable(QStringLiteral("unknown op ") + op));
    }
}

QString stateName(TableState s)
{
    switch (s) {
    case TableState::Inactive: return QStringLiteral("inactive");
    case TableState::Browse: return QStringLiteral("browse");
    case TableState::Edit: return QStringLiteral("edit");
    case TableState::Insert: return QStringLiteral("insert");
    }
    return {};
}

QString changeName(RowChange c)
{
    switch (c) {
    case RowChange::None: return QStringLiteral("-");
    case RowChange::Inserted: return QStringLiteral("I");
    case RowChange::Modified: return QStringLiteral("M");
    case RowChange::Deleted: return QStringLiteral("D");
    }
    return {};
}

} // namespace MemTableScript
