// The screen without a mouse (a key for each side button, the lookups and the tabs, each shown in
// its button's hint and listed in the help), and closing it without losing pairings the operator
// typed and has not imported yet.
#include "frmimpoprato.h"

#include "dialogs.h"
#include "messages.h"
#include "dishgrid.h"
#include "servicegrid.h"
#include "servicemap.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QToolButton>

#include <algorithm>

namespace {

// The hint of a button with the key that presses it.
QString hintWithKey(const QString &hint, const QKeySequence &key)
{
    return QStringLiteral("%1 (%2)").arg(hint, key.toString(QKeySequence::NativeText));
}

} // namespace

const QKeySequence TfrmImpoPrato::kKeyImportar(Qt::Key_F9);
const QKeySequence TfrmImpoPrato::kKeyErros(Qt::Key_F8);
const QKeySequence TfrmImpoPrato::kKeySair(Qt::CTRL | Qt::Key_F4);
const QKeySequence TfrmImpoPrato::kKeyPesquisar(Qt::Key_F4);

void TfrmImpoPrato::buildShortcuts()
{
    // Keys of the whole screen: they work from any of its controls, the grids and their editors
    // included, and a key whose button is off does nothing.
    const auto shortcut = [this](const QString &name, const QList<QKeySequence> &keys, auto &&run) {
        auto *action = new QAction(this);
        action->setObjectName(name);
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(action, &QAction::triggered, this, run);
        addAction(action);
        return action;
    };
    const auto press = [](QToolButton *button) {
        if (button->isEnabled() && button->isVisible())
            button->click();
    };
    shortcut(QStringLiteral("actImportar"), {kKeyImportar}, [=, this] { press(sbtImportExport); });
    shortcut(QStringLiteral("actVerificarErros"), {kKeyErros}, [=, this] { press(sbtErros); });
    // Where the desktop's "close" key is Ctrl+F4 (Windows), the child window's own close takes
    // it, and reaches the same close of the screen; a second shortcut would make it ambiguous.
    if (!QKeySequence::keyBindings(QKeySequence::Close).contains(kKeySair))
        shortcut(QStringLiteral("actSair"), {kKeySair}, [=, this] { press(sbtCancel); });
    // The lookup of the field or cell the operator is on.
    shortcut(QStringLiteral("actPesquisar"), {kKeyPesquisar}, [=, this] {
        QWidget *at = QApplication::focusWidget();
        if (at == medNmArquivo)
            press(sbtArquivo);
        else if (at == medCdFilial)
            press(sbtFilial);
        else if (at && (at == dbgPadrao || dbgPadrao->isAncestorOf(at)))
            dbgPadrao->dbgPadraoEditButtonClick();
    });
    // The tabs, as a tab widget takes them; the grids would use Ctrl+Tab for their cells.
    shortcut(QStringLiteral("actProximaAba"), {QKeySequence(Qt::CTRL | Qt::Key_PageDown)}, [this] { stepTab(1); });
    shortcut(QStringLiteral("actAbaAnterior"), {QKeySequence(Qt::CTRL | Qt::Key_PageUp)}, [this] { stepTab(-1); });

    sbtImportExport->setToolTip(hintWithKey(QStringLiteral("Importar"), kKeyImportar));
    sbtErros->setToolTip(hintWithKey(QStringLiteral("Verificar Erros"), kKeyErros));
    sbtCancel->setToolTip(hintWithKey(QStringLiteral("Sair"), kKeySair));
    for (QToolButton *lookup : {static_cast<QToolButton *>(sbtArquivo), static_cast<QToolButton *>(sbtFilial)})
        lookup->setToolTip(hintWithKey(QStringLiteral("Pesquisar"), kKeyPesquisar));
}

void TfrmImpoPrato::stepTab(int step)
{
    const int count = pgcPadrao->count();
    for (int i = 1; i < count; ++i) {
        const int index = (pgcPadrao->currentIndex() + step * i + count) % count;
        if (!pgcPadrao->isTabVisible(index) || !pgcPadrao->isTabEnabled(index))
            continue;
        pgcPadrao->setCurrentIndex(index);
        // On the tab's grid, as a click on it would put him: the key is his move.
        QWidget *grid = pgcPadrao->widget(index) == tshPadrao ? static_cast<QWidget *>(dbgPadrao) : dbgPrato;
        grid->setFocus(Qt::ShortcutFocusReason);
        return;
    }
}

void TfrmImpoPrato::rememberPairings()
{
    m_pairingsImported = m_session.serviceMap.paresDigitados();
}

bool TfrmImpoPrato::pairingsTyped() const
{
    // A row being typed into, or a pairing the operator made (kept for the next loads of the
    // branch, and gone with the screen) that no import has taken yet.
    const MemTable &map = m_session.cdsServico;
    if (map.isActive() && (map.state() == TableState::Edit || map.state() == TableState::Insert))
        return true;
    const auto &typed = m_session.serviceMap.paresDigitados();
    return std::any_of(typed.begin(), typed.end(), [this](const auto &pair) { return !m_pairingsImported.contains(pair); });
}

bool TfrmImpoPrato::confirmClose()
{
    // What the load paired needs nothing: a new load pairs it again. What the operator paired,
    // and no import took, would be lost.
    if (!pairingsTyped())
        return true;
    return dialogs()->question(Msg(QStringLiteral("Fechar_Pareamentos")));
}
