// The screen and the import history: a file already imported into the branch is imported again
// only when the operator says so. The history is only read here; the server writes it.
#include "frmimpoprato.h"
#include "dialogs.h"
#include "messages.h"

#include <QEventLoop>
#include <QTimer>

bool TfrmImpoPrato::confirmReimport()
{
    const auto before = m_session.previousImport(m_session.fileOrigin());
    if (!before)
        return true;
    const QString who = before->operatorCode.isEmpty() ? Msg(QStringLiteral("Hist_SemOperador")) : before->operatorCode;
    const bool again = dialogs()->question(Msg(QStringLiteral("Hist_JaImportado"))
                                               .arg(before->when.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")), who));
    // The box is gone, but the window system tells only now what it uncovered, and the import
    // about to run blocks the screen: what the box covered is painted first (the operator's keys
    // and clicks wait), or the answered question stays on the screen under the busy indicator.
    repaint();
    QEventLoop uncovered;
    QTimer::singleShot(60, &uncovered, &QEventLoop::quit);
    uncovered.exec(QEventLoop::ExcludeUserInputEvents);
    return again;
}
