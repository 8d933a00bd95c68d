// The screen and the import history: a file already imported into the branch is imported again
// only when the operator says so. The history is only read here; the server writes it.
#include "frmimpoprato.h"
#include "dialogs.h"
#include "messages.h"

bool TfrmImpoPrato::confirmReimport()
{
    const auto before = m_session.previousImport(m_session.fileOrigin());
    if (!before)
        return true;
    const QString who = before->operatorCode.isEmpty() ? Msg(QStringLiteral("Hist_SemOperador")) : before->operatorCode;
    return dialogs()->question(Msg(QStringLiteral("Hist_JaImportado"))
                                   .arg(before->when.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")), who));
}
