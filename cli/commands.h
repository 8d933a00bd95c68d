#pragma once
// Sub-commands of `imp40500`. Each takes the arguments after its name and returns the exit code.
#include <QStringList>

int runInitDb(const QStringList &args);
// `environmentProblems`: the settings of the environment that cannot be used (IMP_SERVER,
// IMP_LOCALE), as Ambiente::loadFromEnvironment told them; check and import refuse to run with them.
int runCheck(const QStringList &args, bool import, const QStringList &environmentProblems);
int runHistory(const QStringList &args);
int runExport(const QStringList &args);
int runUndo(const QStringList &args, const QStringList &environmentProblems);
