#pragma once
// The checks of the import parameters that need no widgets: the source file (its directory, its
// existence, the header and the dish-code mask) and the destination branch. Each fails through
// MensErro, so it abandons the action with the catalogue key in AbandonedAction::key(); the screen
// puts the focus back on its field and lets the abandonment go on.
#include "memtable.h"
#include "query.h"

#include <QString>
#include <optional>

class NetConnection;

namespace ImportChecks {

struct FileCheck {
    QString path;      // the file, resolved once against the current directory
    QString directory; // to remember: the directory part of the name, ending in the separator
};

// The source file. required false: an empty text passes (nullopt). Otherwise, in this order:
// the directory part of the trimmed text must exist ("Diretorio_N_Exist"; the process's current
// directory is left alone), the text as typed must name a file ("Arquivo_N_Exist"), the first
// field of line 1 must be "PRATO" ("Arquivo_Invalido"), GetParamGeral is loaded into
// cdsParamGeral, and the second field of line 2 must equal its CDPICTPRAT ("Mascara_Dif").
// cdsParamGeral is closed again on every way out. A file that cannot be read fails with the
// system's message (no key); a failed server call through CheckResultServ.
std::optional<FileCheck> Vd_Arquivo(const QString &nmArquivo, bool required, NetConnection &net,
                                    MemTable &cdsParamGeral);

// Remembers the directory of an accepted file: inserts the row when cdsDiretorios is empty,
// edits its current row otherwise, and posts it (the events below send the change). A directory
// longer than the column is not cut but refused ("Diretorio_Longo"); a failed post is answered
// with "Diretorio_N_Lembrado" and the reason. Nothing is shown: the caller tells the operator.
Status rememberDirectory(MemTable &cdsDiretorios, const QString &directory);
inline constexpr const char *kProgramCode = "IMP40500";

struct BranchCheck {
    QString code;       // the adjusted code (Ajusta with 4)
    QString name;       // NMFILIAL; empty when the check did not run
    bool checked = false;
};

// The SQL of qryFilial (P_CDFILIAL, P_TCDFILIAL, P_CDOPERADOR).
QString qryFilialSql();

// The destination branch. `adjusted` (when given) receives the canonical 4-character code before
// anything can fail, so the screen writes it back into medCdFilial in every case. required false:
// an empty text passes unchecked. Fails with "Filial_Deve", "Filial_N_Cad" or "Filial_Resc".
// qryFilial stays open on the branch's row.
BranchCheck Vd_CdFilial(const QString &cdFilial, bool required, const QString &operador,
                        ReadOnlyQuery &qryFilial, QString *adjusted = nullptr);

// The directory part of a file name ending in the separator (a root keeps its one separator).
QString directoryToRemember(const QString &fileName);

} // namespace ImportChecks
