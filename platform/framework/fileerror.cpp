#include "fileerror.h"
#include "messages.h"

#include <QFileInfo>

#include <cerrno>

namespace FileError {

QString whyNotWritten(const QString &path, int err)
{
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (file.isDir())
        return Msg(QStringLiteral("Arq_EhPasta")).arg(path);
    if (!folder.exists())
        return Msg(QStringLiteral("Arq_PastaNaoExiste")).arg(folder.filePath());
    if (!folder.isDir())
        return Msg(QStringLiteral("Arq_NaoEhPasta")).arg(folder.filePath());
    if (err == ENOSPC || err == EDQUOT)
        return Msg(QStringLiteral("Arq_DiscoCheio"));
    if (err == EROFS)
        return Msg(QStringLiteral("Arq_SomenteLeitura"));
    if (err == EACCES || err == EPERM || !folder.isWritable() || (file.exists() && !file.isWritable()))
        return Msg(QStringLiteral("Arq_SemPermissao")).arg(file.exists() ? path : folder.filePath());
    return Msg(QStringLiteral("Arq_FalhaSistema")).arg(err);
}

} // namespace FileError
