// What the check shows is what the import does, over generated files at the destination's limits
// (ExportWriter::atLimits), on SQLite and PostgreSQL alike:
// - the dishes the preview lists as new or replaced are the ones the import writes, and nothing
//   else of the destination changes;
// - the dishes the check flags are the ones the import refuses, and nothing refuses it whole;
// - the seven tables after the import are the same on both databases, numbers at their column's
//   scale (and SQLite holds none past it);
// - undoing the import gives the seven tables back as they were, row by row.
// Most files run in process through the session the command line drives; every
// IMP_PROPERTY_BINARY_EVERY-th (16) through the imp40500 binary: check --json, then import --json.
// IMP_PROPERTY_FILES (300) and IMP_PROPERTY_SEED (the first seed, 1) change the run; every failure
// names its seed (IMP_PROPERTY_SEED=<seed> IMP_PROPERTY_FILES=1 replays it).
#include "loadfixture.h"

#include "catalogue.h"
#include "dishflags.h"
#include "importpreview.h"
#include "importrun.h"
#include "schema.h"
#include "serverprocess.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

const QString kBranch = QStringLiteral("0001");
const char *const kSeven[] = {"PRATO", "RECEPADR", "PRATPADR", "RECEFILI", "PRATFILI", "RECESERV", "PRATSERV"};
using Pairs = QList<QPair<QString, QString>>;
// Per table, its rows as text, each led by its dish's key ("tree|code"), sorted.
using Dump = QMap<QString, QStringList>;

// What one check and import said, and the destination around them. Codes are trimmed, as the
// destination keys them; lists of codes are sorted.
struct Run {
    QString failure;   // a load or an import refused whole; empty when neither was
    QStringList rows;  // per dish row in file order: tree|code|IDERRO
    QStringList flagged, previewNew, previewReplaced, refused;
    qint64 written = -1;
    QString historyId; // the import's row in the history
    Dump before, after, undone;
    QString undoFailure;
    QString pastScale; // a number SQLite holds with more decimals than its column's scale
};

QString normal(const QVariant &v, const FieldDef &f, QString *pastScale)
{
    if (v.isNull())
        return QStringLiteral("(null)");
    const QVariant c = Catalogue::fromSql(v, f.kind);
    if (f.kind == FieldKind::DateTime)
        return c.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (f.kind != FieldKind::Number)
        return c.toString();
    const QString text = QString::number(c.toDouble(), 'f', f.scale);
    if (text.toDouble() != c.toDouble() && pastScale->isEmpty())
        *pastScale = QStringLiteral("%1 = %2").arg(f.name, QString::number(c.toDouble(), 'g', 17));
    return text;
}

Dump dump(QSqlDatabase db, QString *pastScale)
{
    Dump out;
    for (const char *name : kSeven) {
        const Catalogue::TableDef *t = Catalogue::table(QString::fromLatin1(name));
        QStringList cols;
        for (const FieldDef &f : t->columns)
            cols << f.name;
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SELECT %1 FROM %2").arg(cols.join(u','), t->name)))
            qFatal("%s", qPrintable(q.lastError().text()));
        const int aux = t->indexOf(u"CDFILAUXPRAT"), code = t->indexOf(u"CDPRATO");
        QStringList &rows = out[t->name];
        while (q.next()) {
            QStringList cells;
            for (int i = 0; i < t->columns.size(); ++i)
                cells << normal(q.value(i), t->columns.at(i), pastScale);
            rows << cells.at(aux) + u'|' + cells.at(code) + QStringLiteral(" :: ") + cells.join(u'|');
        }
        rows.sort();
    }
    return out;
}

// The destination before every file: the demo data and the dishes the generator names again.
void reset(LoadFixture &f)
{
    for (const char *t : {"PRATO", "RECEPADR", "PRATPADR", "RECEFILI", "PRATFILI", "RECESERV", "PRATSERV", "SERVPARE",
                          "HISTIMPO"})
        QVERIFY(f.exec(QStringLiteral("DELETE FROM ") + QLatin1String(t)));
    QSqlDatabase db = f.db->db();
    QVERIFY(Schema::seedDemo(db));
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO PRATO (CDFILAUXPRAT, CDPRATO, CDFILIAL, NMPRATO, SGUNIDADE) "
                             "VALUES (?, ?, ?, ?, 'KG')"));
    for (const QStringList &d : ExportWriter::limitsDestination()) {
        q.addBindValue(d.at(0));
        q.addBindValue(d.at(1));
        q.addBindValue(kBranch);
        q.addBindValue(d.at(2));
        QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
    }
}

QStringList trimmedSorted(QStringList codes)
{
    for (QString &c : codes)
        c = c.trimmed();
    codes.sort();
    return codes;
}

void addRow(Run &r, const QString &tree, const QString &code, const QString &flags)
{
    r.rows << tree.trimmed() + u'|' + code.trimmed() + u'|' + flags;
    if (flags.contains(u'1'))
        r.flagged << code;
}

// The load, the preview and the import in process, as `check` and `import` run them.
void inProcess(LoadFixture &f, const QString &path, const Pairs &pairs, Run &r)
{
    QuietSink sink;
    f.useAsOperatorDatabase();
    Ambiente::instance().resetPictCache();
    ImportSession s(f.net);
    s.NmArquivo = path;
    s.CdFilial = kBranch;
    s.RememberDirectory = false;
    s.serviceMap.paresInformados = pairs;
    runAction([&] {
        s.Vd_Arquivo(true);
        s.Vd_CdFilial(true, QStringLiteral("ADMIN"));
    });
    if (const Status loaded = s.Grava_Tabelas(); !loaded) {
        r.failure = QStringLiteral("load: ") + loaded.error();
        return;
    }
    const MemTable &p = s.cdsPrato;
    for (int row = 0; row < p.rowCount(); ++row)
        addRow(r, cell(p, row, "CDFILAUXPRAT"), cell(p, row, "CDPRATO"), cell(p, row, "IDERRO"));
    const auto preview = ImportPreview::ask(s);
    if (!preview) {
        r.failure = QStringLiteral("preview: ") + preview.error();
        return;
    }
    r.previewNew = preview->newDishes;
    r.previewReplaced = preview->replacedDishes;
    const auto outcome = ImportRun(s, [](const QStringList &) { return okStatus(); }).run();
    if (!outcome) {
        r.failure = QStringLiteral("import: ") + outcome.error();
        return;
    }
    r.written = outcome->summary.dishesWritten;
    r.refused = outcome->summary.dishesNotWritten;
    r.historyId = outcome->summary.historyId;
}

QStringList strings(const QJsonValue &v)
{
    QStringList out;
    for (const QJsonValue &s : v.toArray())
        out << s.toString();
    return out;
}

// `check --json`, then `import --json`, through the binary.
void viaBinary(LoadFixture &f, const QString &path, const Pairs &pairs, Run &r)
{
    QStringList args{path,        QStringLiteral("--branch"), kBranch, QStringLiteral("--db"),
                     f.db->url(), QStringLiteral("--json")};
    for (const auto &[from, to] : pairs)
        args << QStringLiteral("--pair") << from + u'=' + to;
    const ProcessRun check = ProcessRun::run(QStringLiteral(IMP40500_BIN), QStringList{QStringLiteral("check")} + args);
    const QJsonObject c = check.json();
    if (check.exitCode != 0) {
        r.failure = QStringLiteral("check exit %1: %2").arg(check.exitCode).arg(QString::fromUtf8(check.err));
        return;
    }
    for (const QJsonValue &row : c[u"tables"][u"PRATO"].toArray())
        addRow(r, row[u"CDFILAUXPRAT"].toString(), row[u"CDPRATO"].toString(), row[u"IDERRO"].toString());
    r.previewNew = strings(c[u"preview"][u"new"]);
    r.previewReplaced = strings(c[u"preview"][u"replaced"]);
    const ProcessRun import = ProcessRun::run(QStringLiteral(IMP40500_BIN), QStringList{QStringLiteral("import")} + args);
    const QJsonObject i = import.json();
    if (import.exitCode != 0 || !i.contains(u"import")) {
        r.failure = QStringLiteral("import exit %1: %2").arg(import.exitCode).arg(QString::fromUtf8(import.err));
        return;
    }
    if (i[u"tables"][u"PRATO"] != c[u"tables"][u"PRATO"])
        r.failure = QStringLiteral("import's load differs from check's");
    r.written = i[u"import"][u"dishes_written"].toInteger(-1);
    r.refused = strings(i[u"import"][u"dishes_refused"]);
    r.historyId = i[u"import"][u"history_id"].toString();
}

// Undoes the import, as it was made: in process, or through `imp40500 undo`.
void undo(LoadFixture &f, bool throughBinary, Run &r)
{
    if (!r.failure.isEmpty())
        return;
    if (throughBinary) {
        const ProcessRun u = ProcessRun::run(QStringLiteral(IMP40500_BIN),
                                             {QStringLiteral("undo"), r.historyId, QStringLiteral("--db"), f.db->url()});
        if (u.exitCode != 0)
            r.undoFailure = QStringLiteral("exit %1: %2").arg(u.exitCode).arg(QString::fromUtf8(u.err));
    } else if (const auto u = Rdm::Desfazer(f.net, r.historyId); !u) {
        r.undoFailure = u.error();
    }
    r.undone = dump(f.db->db(), &r.pastScale);
}

// The dishes the import changed, by their rows of PRATO before and after: new and replaced codes.
void changedDishes(const Run &r, QStringList &added, QStringList &replaced, QStringList &problems)
{
    QHash<QString, QString> before;
    for (const QString &row : r.before.value(QStringLiteral("PRATO")))
        before.insert(row.section(QStringLiteral(" :: "), 0, 0), row);
    QSet<QString> seen;
    for (const QString &row : r.after.value(QStringLiteral("PRATO"))) {
        const QString key = row.section(QStringLiteral(" :: "), 0, 0);
        seen.insert(key);
        if (!before.contains(key)) {
            added << key.section(u'|', 1);
        } else if (before.value(key) != row) {
            replaced << key.section(u'|', 1);
            // A local dish replaces only one of its own name (else the check flags it).
            const auto name = [](const QString &r) { return r.section(QStringLiteral(" :: "), 1).section(u'|', 3, 3); };
            if (!key.startsWith(QLatin1String("P|")) && name(before.value(key)) != name(row))
                problems << QStringLiteral("local dish %1 \"%2\" replaced by \"%3\"")
                                .arg(key, name(before.value(key)), name(row));
        }
    }
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        if (!seen.contains(it.key()))
            problems << QStringLiteral("dish %1 of the destination is gone").arg(it.key());
    added.sort();
    replaced.sort();
}

// The properties of one run on one database.
QStringList verify(const Run &r)
{
    if (!r.failure.isEmpty())
        return {r.failure};
    QStringList problems;
    const auto same = [&](const char *what, const QStringList &a, const QStringList &b) {
        if (a != b)
            problems << QStringLiteral("%1:\n    %2\n    %3").arg(QLatin1String(what), a.join(u','), b.join(u','));
    };
    same("refused / flagged", trimmedSorted(r.refused), trimmedSorted(r.flagged));
    QStringList added, replaced;
    changedDishes(r, added, replaced, problems);
    same("written new / preview new", added, trimmedSorted(r.previewNew));
    same("written replaced / preview replaced", replaced, trimmedSorted(r.previewReplaced));
    if (r.written != added.size() + replaced.size())
        problems << QStringLiteral("dishes_written %1, changed %2").arg(r.written).arg(added.size() + replaced.size());
    // The recipes of the dishes not written stay as they were.
    QSet<QString> written;
    for (const QString &row : r.after.value(QStringLiteral("PRATO")))
        if (!r.before.value(QStringLiteral("PRATO")).contains(row))
            written.insert(row.section(QStringLiteral(" :: "), 0, 0));
    for (const char *t : kSeven) {
        const auto others = [&](const QStringList &rows) {
            QStringList out;
            for (const QString &row : rows)
                if (!written.contains(row.section(QStringLiteral(" :: "), 0, 0)))
                    out << row;
            return out;
        };
        same(t, others(r.before.value(QLatin1String(t))), others(r.after.value(QLatin1String(t))));
    }
    if (!r.pastScale.isEmpty())
        problems << QStringLiteral("past its scale: ") + r.pastScale;
    if (!r.undoFailure.isEmpty())
        problems << QStringLiteral("undo: ") + r.undoFailure;
    for (const char *t : kSeven)
        same(QByteArray("undone ").append(t).constData(), r.before.value(QLatin1String(t)), r.undone.value(QLatin1String(t)));
    return problems;
}

// Both databases' runs of one file agree in everything they show and leave.
QStringList compare(const Run &a, const Run &b)
{
    QStringList problems;
    if (a.rows != b.rows)
        problems << QStringLiteral("flags differ:\n    %1\n    %2").arg(a.rows.join(u','), b.rows.join(u','));
    if (a.previewNew != b.previewNew || a.previewReplaced != b.previewReplaced)
        problems << QStringLiteral("previews differ");
    for (const char *t : kSeven)
        for (qsizetype i = 0; i < qMax(a.after[t].size(), b.after[t].size()); ++i)
            if (a.after[t].value(i) != b.after[t].value(i)) {
                problems << QStringLiteral("%1 differs:\n    %2\n    %3")
                                .arg(QLatin1String(t), a.after[t].value(i), b.after[t].value(i));
                break;
            }
    return problems;
}

int envInt(const char *name, int fallback)
{
    return qEnvironmentVariableIsSet(name) ? qEnvironmentVariableIntValue(name) : fallback;
}

} // namespace

class TstProperty : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void checkIsImport();

private:
    std::unique_ptr<LoadFixture> m_db[2]; // SQLite, and PostgreSQL when this run has it
};

void TstProperty::initTestCase()
{
    QString why;
    m_db[0] = LoadFixture::make(QStringLiteral("sqlite"), &why);
    QVERIFY2(m_db[0], qPrintable(why));
    if (SeededDb::available(QStringLiteral("postgresql"))) {
        m_db[1] = LoadFixture::make(QStringLiteral("postgresql"), &why);
        QVERIFY2(m_db[1], qPrintable(why));
    } else {
        qInfo("PostgreSQL not configured (IMP_TEST_PG_URL): SQLite only");
    }
}

void TstProperty::checkIsImport()
{
    const int first = envInt("IMP_PROPERTY_SEED", 1);
    const int files = envInt("IMP_PROPERTY_FILES", 300);
    const int binaryEvery = envInt("IMP_PROPERTY_BINARY_EVERY", 16);
    QStringList failures;
    int dishes = 0, flagged = 0, changed = 0, longCodes = 0, binary = 0;
    int byPosition[DishFlags::kPositions] = {};
    for (int seed = first; seed < first + files; ++seed) {
        const ExportWriter::Limits limits = ExportWriter::atLimits(quint32(seed));
        for (const QByteArray &line : limits.file.lines)
            longCodes += line.startsWith("PRATO\xF8") && line.split('\xF8').value(2).size() > 10;
        const QString path = m_db[0]->write(limits.file);
        const bool throughBinary = binaryEvery > 0 && seed % binaryEvery == 0;
        binary += throughBinary;
        Run runs[2];
        QStringList problems;
        for (int k = 0; k < 2 && m_db[k]; ++k) {
            reset(*m_db[k]);
            if (QTest::currentTestFailed())
                return;
            Run &r = runs[k];
            r.before = dump(m_db[k]->db->db(), &r.pastScale);
            (throughBinary ? viaBinary : inProcess)(*m_db[k], path, limits.pairs, r);
            r.after = dump(m_db[k]->db->db(), &r.pastScale);
            undo(*m_db[k], throughBinary, r);
            for (const QString &p : verify(r))
                problems << QLatin1String(k ? "postgresql: " : "sqlite: ") + p;
        }
        if (m_db[1])
            problems << compare(runs[0], runs[1]);
        for (const QString &p : std::as_const(problems))
            failures << QStringLiteral("seed %1%2: %3").arg(seed).arg(throughBinary ? " (imp40500)" : "", p);
        // IMP_PROPERTY_KEEP: a folder for the files that failed, with the --pair options they take.
        if (const QString keep = qEnvironmentVariable("IMP_PROPERTY_KEEP"); !problems.isEmpty() && !keep.isEmpty()) {
            QStringList pairs;
            for (const auto &[from, to] : limits.pairs)
                pairs << QStringLiteral("--pair ") + from + u'=' + to;
            limits.file.write(QStringLiteral("%1/seed-%2.txt").arg(keep).arg(seed));
            QFile options(QStringLiteral("%1/seed-%2.pairs").arg(keep).arg(seed));
            if (options.open(QIODevice::WriteOnly))
                options.write(pairs.join(u' ').toUtf8());
        }
        dishes += int(runs[0].rows.size());
        for (const QString &row : std::as_const(runs[0].rows))
            for (int p = 0; p < DishFlags::kPositions; ++p)
                byPosition[p] += row.section(u'|', -1).mid(p, 1) == u"1";
        flagged += int(runs[0].flagged.size());
        changed += int(runs[0].written > 0 ? runs[0].written : 0);
    }
    QStringList positions;
    for (int p = 0; p < DishFlags::kPositions; ++p)
        positions << QString::number(byPosition[p]);
    qInfo("%d files (%d through imp40500), %d dishes (%d codes longer than their column), %d flagged (by position: %s), "
          "%d written; %lld failing",
          files, binary, dishes, longCodes, flagged, qPrintable(positions.join(u' ')), changed, qlonglong(failures.size()));
    for (const QString &f : std::as_const(failures))
        qWarning("%s", qPrintable(f));
    QVERIFY2(failures.isEmpty(), "the failures above, each with its seed");
}

QTEST_MAIN(TstProperty)
#include "tst_property.moc"
