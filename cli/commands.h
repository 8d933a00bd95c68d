#pragma once
// Sub-commands of `imp40500`. Each takes the arguments after its name and returns the exit code.
#include <QStringList>

int runInitDb(const QStringList &args);
int runCheck(const QStringList &args, bool import);
int runHistory(const QStringList &args);
int runExport(const QStringList &args);
