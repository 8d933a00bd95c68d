#pragma once
// Why a file could not be written, in the operator's words: the system's own ("No such file or
// directory", "Permission denied") are English, and name no folder.
#include "platform_export.h"

#include <QString>

namespace FileError {
// "a pasta ... não existe", "sem permissão para gravar em ...", "o disco está cheio"..., from the
// file system as it is and the C library's `err` of the failed call (0 when unknown).
IMP_PLATFORM_EXPORT QString whyNotWritten(const QString &path, int err);
} // namespace FileError
