#include "checks.h"

#include "appserver.h"
#include "database.h"
#include "datapacket.h"
#include "exportreader.h"
#include "framework.h"
#include "messages.h"
#include "valuedecoder.h"

#include <QDir>
#include <QFileInfo>

namespace ImportChecks {

namespace {

// A table closed on every way out of the scope.
struct CloseOnExit {
    MemTable &t;
    ~CloseOnExit() { t.close(); }
};

} // namespace

QString directoryToRemember(const QString &fileName)
{
    QString dir = QFileInfo(QDir::current(), fileName).absolutePath();
    if (!dir.endsWith(u'/'))
        dir += u'/';
    return dir;
}

std::optional<FileCheck> Vd_Arquivo(const QString &nmArquivo, bool required, NetConnection &net,
                                    MemTable &cdsParamGeral)
{
    if (EmptyString(nmArquivo)) {
        if (required)
            MensErroKey(QStringLiteral("Arquivo_Deve"));
        return std::nullopt;
    }

    // The directory is checked, not made current: the screen lives inside the host's process, and
    // a relative name is resolved once, against the directory the process already has.
    const QDir cwd = QDir::current();
    const QString dirPart = QFileInfo(AllTrim(nmArquivo)).path();
    if (!QFileInfo(cwd.absoluteFilePath(dirPart)).isDir())
        MensErroKey(QStringLiteral("Diretorio_N_Exist"));

    // The name as typed, blanks and all.
    const QString path = QFileInfo(cwd, nmArquivo).absoluteFilePath();
    if (!QFileInfo(path).isFile())
        MensErroKey(QStringLiteral("Arquivo_N_Exist"));
    // The destination's own files are never opened here: the close would drop the process's locks
    // on the database (and it is no export file anyway).
    if (const Status own = Database::refuseOwnFile(path); !own)
        MensErro(own.failure().message, true, own.failure().key);

    ExportReader reader;
    if (!reader.open(path))
        MensErro(reader.errorString());
    QByteArrayView line;
    reader.readRawLine(line);
    if (reader.failed())
        MensErro(reader.errorString());
    if (ExportText::firstField(line) != QByteArrayView("PRATO"))
        MensErroKey(QStringLiteral("Arquivo_Invalido"));

    CloseOnExit closeParam{cdsParamGeral};
    {
        const QByteArray payload = CheckResultServ(Rdm::GetParamGeral(net), true, 0);
        const Status st = DataPacket::load(cdsParamGeral, payload);
        if (!st)
            MensErro(st.error());
    }

    if (!reader.readRawLine(line))
        line = {};
    if (reader.failed())
        MensErro(reader.errorString());
    const QString mask = ExportText::decode(ExportText::firstField(ExportText::dropFirstField(line)));
    QString destMask;
    const int col = cdsParamGeral.fieldIndex(u"CDPICTPRAT");
    if (col >= 0 && cdsParamGeral.rowCount() > 0)
        destMask = cdsParamGeral.text(col);
    if (mask != destMask)
        MensErroKey(QStringLiteral("Mascara_Dif"));

    return FileCheck{path, directoryToRemember(nmArquivo)};
}

Status rememberDirectory(MemTable &cdsDiretorios, const QString &directory)
{
    if (!cdsDiretorios.isActive()) {
        if (cdsDiretorios.fieldCount() == 0)
            cdsDiretorios.setFields({FieldDef::text(QStringLiteral("CDPROGRAMA"), 8),
                                     FieldDef::text(QStringLiteral("DSDIRETORIO"), 100)});
        cdsDiretorios.createDataSet();
    }
    const int col = cdsDiretorios.fieldIndex(u"DSDIRETORIO");
    if (col < 0)
        return Status::fail(Msg(QStringLiteral("Diretorio_N_Lembrado")).arg(QStringLiteral("DSDIRETORIO")),
                            QStringLiteral("Diretorio_N_Lembrado"));
    // A cut directory would be offered next time as one that does not exist: better none.
    const int width = cdsDiretorios.field(col).width;
    if (width > 0 && directory.size() > width)
        return Status::fail(Msg(QStringLiteral("Diretorio_Longo")).arg(width), QStringLiteral("Diretorio_Longo"));
    try {
        if (cdsDiretorios.rowCount() == 0)
            cdsDiretorios.insert();
        else
            cdsDiretorios.edit();
        cdsDiretorios.setText(col, directory);
        cdsDiretorios.post();
    } catch (const std::exception &e) {
        // The post's handler has already put the row back as the server last gave it.
        if (cdsDiretorios.state() != TableState::Browse)
            cdsDiretorios.cancel();
        const auto *a = dynamic_cast<const AbandonedAction *>(&e);
        return Status::fail(Msg(QStringLiteral("Diretorio_N_Lembrado"))
                                .arg(a ? a->text() : QString::fromUtf8(e.what())),
                            QStringLiteral("Diretorio_N_Lembrado"));
    }
    return okStatus();
}

QString qryFilialSql()
{
    return QStringLiteral(
        "SELECT F.CDFILIAL, F.NMFILIAL, F.IDCNTRRESC "
        "FROM FILIAL F, FILIOPER FO "
        "WHERE (F.CDFILIAL = :P_CDFILIAL OR :P_TCDFILIAL = 'T') AND "
        "(F.CDFILIAL = FO.CDFILIAL) AND (FO.CDOPERADOR = :P_CDOPERADOR) "
        "ORDER BY F.CDFILIAL");
}

BranchCheck Vd_CdFilial(const QString &cdFilial, bool required, const QString &operador,
                        ReadOnlyQuery &qryFilial, QString *adjusted)
{
    const bool empty = EmptyString(cdFilial);
    BranchCheck b;
    b.code = Ajusta(cdFilial, 4);
    if (adjusted)
        *adjusted = b.code;
    if (empty) {
        if (required)
            MensErroKey(QStringLiteral("Filial_Deve"));
        return b;
    }
    QString resc;
    qryFilial.close();
    qryFilial.setParam(QStringLiteral("P_CDFILIAL"), b.code);
    qryFilial.setParam(QStringLiteral("P_TCDFILIAL"), QStringLiteral(""));
    qryFilial.setParam(QStringLiteral("P_CDOPERADOR"), operador.isNull() ? QStringLiteral("") : operador);
    qryFilial.openOrAbandon();
    const bool found = !qryFilial.eof();
    if (found) {
        resc = qryFilial.text(QStringLiteral("IDCNTRRESC"));
        b.name = qryFilial.text(QStringLiteral("NMFILIAL"));
    }
    if (!found)
        MensErroKey(QStringLiteral("Filial_N_Cad"));
    if (resc == u"S")
        MensErroKey(QStringLiteral("Filial_Resc"));
    b.checked = true;
    return b;
}

} // namespace ImportChecks
