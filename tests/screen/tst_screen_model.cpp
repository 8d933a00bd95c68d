// The screen driven by seeded random sequences of operator actions (clicks on every control, the
// keys, typing in the grids, the lookups with scripted answers, window moves, the error panel, the
// reload, the import, server methods failing on request, Qt's file dialog opened on the
// destination's folder, another program importing into the destination), with the screen's rules
// checked after every action, and the destination's: no statement left open, the locks on the
// database kept, nothing imported lost.
// A broken rule prints the sequence's seed and its actions; IMP_MODEL_SEED=<seed> replays one
// sequence, IMP_MODEL_SEQUENCES and IMP_MODEL_LENGTH change how many and how long.
#include "screenmodel.h"

#include "dbprobe.h"
#include "exportwriter.h"

#include <QElapsedTimer>
#include <QSqlQuery>

void ScreenModelTest::initTestCase()
{
    OPEN_SCREEN(m_fx)
    m_dbPath = QFileInfo(DbUrl::parse(m_fx->db->url()).value().path).absoluteFilePath();
    writeFiles();
    // The demo's dish 100001 and its two standard recipe lines.
    m_names.insert(QStringLiteral("100001"), QStringLiteral("ARROZ BRANCO"));
    m_recipeRows.insert(QStringLiteral("100001"), 2);
    settleFully();
}

int ScreenModelTest::okImports()
{
    return m_fx->db->count(QStringLiteral("HISTIMPO"), QStringLiteral("IDRESULTADO = 'ok'"));
}

QString ScreenModelTest::destinationBroken(int okImportsBefore, bool screenImported)
{
    if (const QStringList busy = DbProbe::busyStatements(); !busy.isEmpty())
        return QStringLiteral("statements left open: ") + busy.join(QStringLiteral(" | "));
    if (DbProbe::locksHeld(m_dbPath + QStringLiteral("-shm")) == 0)
        return QStringLiteral("the process no longer holds its locks on the database");
    // After a load or an import, no connection of the process (the module's own included) holds
    // a read transaction: another connection checkpoints the WAL to its end.
    if (frmImpoPrato && (screenImported || f()->screenState() == TfrmImpoPrato::ScreenState::Loaded))
        if (QString held = DbProbe::checkpoint(m_dbPath); !held.isEmpty())
            return held;
    // An import the screen made in this action: its dishes without errors were written.
    if (okImports() != okImportsBefore && screenImported && frmImpoPrato) {
        const MemTable &p = f()->document().cdsPrato;
        const QString file = f()->medNmArquivo->text();
        const int code = p.fieldIndex(u"CDPRATO"), name = p.fieldIndex(u"NMPRATO"), flags = p.fieldIndex(u"IDERRO");
        for (int r = 0; p.isActive() && r < p.rowCount(); ++r) {
            if (p.textAt(r, flags).contains(u'1'))
                continue;
            m_names.insert(p.textAt(r, code), p.textAt(r, name));
            if (m_recipes.contains(file))
                m_recipeRows.insert(p.textAt(r, code), m_recipes[file].value(p.textAt(r, code)));
        }
    }
    QSqlQuery q(m_fx->db->db());
    for (auto it = m_names.cbegin(); it != m_names.cend(); ++it) {
        q.prepare(QStringLiteral("SELECT NMPRATO, (SELECT COUNT(*) FROM RECEPADR R WHERE R.CDPRATO = P.CDPRATO) "
                                 "FROM PRATO P WHERE CDPRATO = ?"));
        q.addBindValue(it.key());
        if (!q.exec() || !q.next())
            return QStringLiteral("dish %1, imported, is gone").arg(it.key());
        if (q.value(0).toString() != it.value())
            return QStringLiteral("dish %1 is named %2, imported as %3").arg(it.key(), q.value(0).toString(), it.value());
        if (m_recipeRows.contains(it.key()) && q.value(1).toInt() != m_recipeRows[it.key()])
            return QStringLiteral("dish %1 has %2 standard recipe rows, imported with %3")
                .arg(it.key()).arg(q.value(1).toInt()).arg(m_recipeRows[it.key()]);
        q.finish();
    }
    return {};
}

void ScreenModelTest::cleanupTestCase()
{
    m_fx.reset();
}

void ScreenModelTest::writeFiles()
{
    auto put = [this](const QString &name, const ExportWriter &w, const QStringList &services) {
        const QString path = m_fx->dir.filePath(name);
        QVERIFY(w.write(path));
        m_files << path;
        m_services.insert(path, services);
    };
    // Three services (two pair by name, one does not), three dishes, one of them with a unit the
    // destination lacks.
    ExportWriter three;
    three.service(QStringLiteral("10"), QStringLiteral("Almoco"))
        .service(QStringLiteral("20"), QStringLiteral("jantar"))
        .service(QStringLiteral("30"), QStringLiteral("LANCHE DA TARDE"));
    three.dish(QStringLiteral("P"), QStringLiteral("100001"), QStringLiteral("ARROZ BRANCO"))
        .dish(QStringLiteral("P"), QStringLiteral("100002"), QStringLiteral("FEIJAO"), QStringLiteral("XX"))
        .dish(QStringLiteral("P"), QStringLiteral("100003"), QStringLiteral("SALADA"));
    put(QStringLiteral("tres-servicos.txt"), three, {"10", "20", "30"});

    // One service that pairs, two dishes, standard recipe lines: a file loaded after it without
    // them must not take the recipes of its dishes away.
    ExportWriter one;
    one.service(QStringLiteral("40"), QStringLiteral("CEIA"));
    one.dish(QStringLiteral("P"), QStringLiteral("100004"), QStringLiteral("SOPA"))
        .add({"RECEPADR", "P", "100004", "000101", "KG", "0,100"})
        .dish(QStringLiteral("P"), QStringLiteral("100005"), QStringLiteral("PUDIM"), QStringLiteral("XX"));
    put(QStringLiteral("um-servico.txt"), one, {"40"});
    m_recipes.insert(m_files.last(), {{QStringLiteral("100004"), 1}});

    // What another program imports meanwhile.
    ExportWriter other;
    other.dish(QStringLiteral("P"), QStringLiteral("200001"), QStringLiteral("PRATO DE OUTRO PROGRAMA"))
        .add({"RECEPADR", "P", "200001", "000101", "KG", "0,200"});
    m_otherFile = m_fx->dir.filePath(QStringLiteral("outro-programa.txt"));
    QVERIFY(other.write(m_otherFile));

    // No service line: the tab "Serviço" stays hidden.
    ExportWriter none;
    none.dish(QStringLiteral("P"), QStringLiteral("100006"), QStringLiteral("BOLO"));
    put(QStringLiteral("sem-servico.txt"), none, {});

    // The data marker on line 32, behind two services: the load fails after the map was built.
    ExportWriter late;
    const QByteArray marker = late.lines.takeLast();
    late.service(QStringLiteral("10"), QStringLiteral("Almoco")).service(QStringLiteral("20"), QStringLiteral("JANTAR"));
    while (late.lines.size() < 31)
        late.lines << ExportWriter::fields({"COMENTARIO"});
    late.lines << marker;
    late.dish(QStringLiteral("P"), QStringLiteral("100007"), QStringLiteral("TORTA"));
    put(QStringLiteral("marcador-32.txt"), late, {"10", "20"});

    // Refused by the file check.
    ExportWriter header;
    header.lines[0] = ExportWriter::fields({"RECEITA", "EXPORTAÇÃO"});
    put(QStringLiteral("outro-tipo.txt"), header, {});
}

void ScreenModelTest::resetScreen()
{
    if (!frmImpoPrato || !boIdCriado) {
        IniProc();
        settleFully();
        ++m_reopened;
    }
    m_fx->rdm->failMethod.clear();
    m_fx->dialogs->clear();
    m_fx->dialogs->lookupAnswers.clear();
    m_fx->dialogs->openFileAnswers.clear();
    QMdiSubWindow *sub = f()->subWindow();
    if (sub->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))
        sub->showNormal();
    m_fx->area->setActiveSubWindow(sub);
    settleFully();
    if (f()->panErro->isVisible())
        f()->errorReview->ButtonFlat1Click();
    // Into the panel as the operator goes there; the load, if any, goes with it.
    click(f()->medNmArquivo);
    settleFully();
    if (f()->screenState() != State::NoFile)
        f()->panFiltroEnter(f()->panFiltro);
    f()->medNmArquivo->setText(m_files.first());
    f()->medCdFilial->setText(QStringLiteral("0001"));
    settleFully();
}

ScreenModelTest::Before ScreenModelTest::snapshot()
{
    Before b;
    b.state = f()->screenState();
    b.loads = m_fx->rdm->calls.value(QStringLiteral("GetPrato"));
    b.imports = m_fx->rdm->calls.value(QStringLiteral("Importacao"));
    b.errorPanelOpen = f()->panErro->isVisible();
    b.errors = m_fx->dialogs->errors.size();
    b.questions = m_fx->dialogs->questions.size();
    b.infos = m_fx->dialogs->infos.size();
    b.failing = m_fx->rdm->failMethod;
    b.failingCalls = m_fx->rdm->calls.value(b.failing);
    b.okImports = okImports();
    // Pairings typed since the last load or import, which closing the screen would lose.
    const MemTable &map = f()->document().cdsServico;
    b.pairs = destinations(map);
    const auto &typed = f()->document().serviceMap.paresDigitados();
    b.typed = ScreenInvariants::mapEditing(map)
              || std::any_of(typed.begin(), typed.end(), [this](const auto &p) { return !m_pairsImported.contains(p); });
    return b;
}

QString ScreenModelTest::closeBroken(const Action &a, const Before &b, bool closed)
{
    const bool asked = m_fx->dialogs->questions.mid(b.questions).contains(kCloseQuestion);
    m_closeQuestions += asked ? 1 : 0;
    if (asked && !b.typed)
        return QStringLiteral("\"%1\" asked before closing with no pairing typed").arg(a.text);
    if (closed && b.typed && !asked)
        return QStringLiteral("\"%1\" closed the screen with typed pairings, without asking").arg(a.text);
    if (asked && closed != a.closeAnswer)
        return QStringLiteral("\"%1\": the screen %2 after the answer %3")
            .arg(a.text, closed ? QStringLiteral("closed") : QStringLiteral("stayed"),
                 a.closeAnswer ? QStringLiteral("Sim") : QStringLiteral("Não"));
    if (closed || !asked)
        return {};
    // Answered Não, the load stays as it was (a row in edit may take the editor's text on the
    // way: the click moves the focus).
    const MemTable &map = f()->document().cdsServico;
    if (f()->screenState() != b.state || (!ScreenInvariants::mapEditing(map) && destinations(map) != b.pairs))
        return QStringLiteral("\"%1\", answered Não, changed the load (%2 -> %3)")
            .arg(a.text, b.pairs.join(u','), destinations(map).join(u','));
    return {};
}

QString ScreenModelTest::loadBroken(const Action &a, const Before &b)
{
    const State after = f()->screenState();
    // A load goes only when the operator himself enters the panel: a click or Tab that leaves
    // him there with the focus. A click while the error panel is open only closes that panel.
    const bool loadLost = ScreenInvariants::holdsLoad(b.state)
                          && (!ScreenInvariants::holdsLoad(after) || m_fx->rdm->calls.value(QStringLiteral("GetPrato")) != b.loads);
    if (loadLost) {
        // With the screen's window not active (a dialog just closed), where its focus will be.
        QWidget *now = QApplication::focusWidget();
        if (!now || !f()->isAncestorOf(now))
            now = f()->focusWidget();
        const bool focusInPanel = now && f()->panFiltro->isAncestorOf(now);
        // Recarregar loads again on purpose; anything else only by the operator's own entry.
        const bool entered = (a.reach == Reach::Panel && !b.errorPanelOpen) || a.reach == Reach::Tab;
        if (a.reach != Reach::Reload && (!entered || !focusInPanel || !f()->operatorInPanel()))
            return QStringLiteral("the load was lost by \"%1\"").arg(a.text);
    }
    // Only a completed load is sent, and only by the import button.
    if (m_fx->rdm->calls.value(QStringLiteral("Importacao")) != b.imports && (!a.import || b.state != State::Loaded))
        return QStringLiteral("Importacao called by \"%1\" in state %2").arg(a.text, TfrmImpoPrato::stateName(b.state));
    return {};
}

QString ScreenModelTest::describe(int step, const Action &a, const Before &b) const
{
    QWidget *focus = QApplication::focusWidget();
    const QString focusName = !focus ? QStringLiteral("-")
                              : focus->objectName().isEmpty() ? QString::fromLatin1(focus->metaObject()->className())
                                                              : focus->objectName();
    const QStringList told = m_fx->dialogs->errors.mid(b.errors);
    return QStringLiteral("%1. %2 -> %3, focus %4%5")
        .arg(step, 2)
        .arg(a.text, QString::fromLatin1(TfrmImpoPrato::stateName(f()->screenState())), focusName,
             told.isEmpty() ? QString() : QStringLiteral(", told \"%1\"").arg(told.join(QStringLiteral("\", \""))));
}

QString ScreenModelTest::runSequence(quint32 seed, int length, QStringList &log)
{
    std::mt19937 rng(seed);
    resetScreen();
    const auto services = [this](const QString &path) { return servicesOf(path); };
    if (QString broken = ScreenInvariants::check(f(), services); !broken.isEmpty())
        return QStringLiteral("at the start: ") + broken;

    for (int i = 0; i < length; ++i) {
        if (!frmImpoPrato || !boIdCriado) {
            // Escape closed the screen: the operator opens it again.
            IniProc();
            settleFully();
            ++m_reopened;
            log << QStringLiteral("   (screen opened again)");
        }
        Action a = generate(rng);
        const Before before = snapshot();

        a.run();
        settleFully();
        // A method fails once, on its next call.
        if (!before.failing.isEmpty() && m_fx->rdm->calls.value(before.failing) != before.failingCalls)
            m_fx->rdm->failMethod.clear();

        const bool screenImported = m_fx->rdm->calls.value(QStringLiteral("Importacao")) != before.imports;
        if (QString broken = destinationBroken(before.okImports, screenImported); !broken.isEmpty()) {
            log << QStringLiteral("%1. %2").arg(i + 1, 2).arg(a.text);
            return broken;
        }
        const bool closed = !frmImpoPrato || !boIdCriado;
        if (QString broken = closeBroken(a, before, closed); !broken.isEmpty())
            return broken;
        if (closed) {
            log << QStringLiteral("%1. %2 -> screen closed").arg(i + 1, 2).arg(a.text);
            m_pairsImported.clear();
            if (before.errorPanelOpen)
                return QStringLiteral("\"%1\" on the error panel closed the screen").arg(a.text);
            if (!ScreenInvariants::holdsLoad(before.state) && before.state != State::NoFile && before.state != State::LoadFailed)
                return QStringLiteral("the screen closed in state %1").arg(TfrmImpoPrato::stateName(before.state));
            continue;
        }
        // An import that went through takes the pairings typed so far.
        if (std::any_of(m_fx->dialogs->infos.cbegin() + before.infos, m_fx->dialogs->infos.cend(),
                        [](const QString &t) { return t.startsWith(QStringLiteral("A importação foi realizada")); }))
            m_pairsImported = f()->document().serviceMap.paresDigitados();
        ++m_visits[int(f()->screenState())];
        log << describe(i + 1, a, before);

        if (QString broken = ScreenInvariants::check(f(), services); !broken.isEmpty())
            return broken;
        if (QString broken = loadBroken(a, before); !broken.isEmpty())
            return broken;
    }
    return {};
}

void ScreenModelTest::randomSequencesKeepTheRules()
{
    const bool replay = qEnvironmentVariableIsSet("IMP_MODEL_SEED");
    const quint32 first = replay ? qEnvironmentVariable("IMP_MODEL_SEED").toUInt() : 20261208u;
    const int sequences = replay ? 1 : qEnvironmentVariableIntValue("IMP_MODEL_SEQUENCES") > 0
                                           ? qEnvironmentVariableIntValue("IMP_MODEL_SEQUENCES")
                                           : 1000;
    const int length = qEnvironmentVariableIntValue("IMP_MODEL_LENGTH") > 0 ? qEnvironmentVariableIntValue("IMP_MODEL_LENGTH") : 30;

    QElapsedTimer clock;
    clock.start();
    int actions = 0;
    for (int s = 0; s < sequences; ++s) {
        const quint32 seed = first + quint32(s);
        QStringList log;
        const QString broken = runSequence(seed, length, log);
        if (!broken.isEmpty()) {
            qWarning().noquote() << QStringLiteral("Sequence with seed %1 (replay: IMP_MODEL_SEED=%1):\n  %2\nbroke: %3")
                                        .arg(seed)
                                        .arg(log.join(QStringLiteral("\n  ")), broken);
            QFAIL(qPrintable(QStringLiteral("seed %1: %2").arg(seed).arg(broken)));
        }
        actions += length;
        m_lastLog = log;
    }
    qInfo("%d sequences, %d actions in %lld ms; %d loads, %d imports, %d reopenings, %d questions before "
          "closing; actions ending NoFile %d, Loaded %d, LoadFailed %d, Imported %d",
          sequences, actions, static_cast<long long>(clock.elapsed()),
          m_fx->rdm->calls.value(QStringLiteral("GetPrato")), m_fx->rdm->calls.value(QStringLiteral("Importacao")),
          m_reopened, m_closeQuestions, m_visits[int(State::NoFile)], m_visits[int(State::Loaded)], m_visits[int(State::LoadFailed)],
          m_visits[int(State::Imported)]);
    if (qEnvironmentVariableIsSet("IMP_MODEL_PRINT"))
        qInfo().noquote() << m_lastLog.join(u'\n');
}

QTEST_MAIN(ScreenModelTest)
