#pragma once
// The exit codes of every `imp40500` command: the same code for the same kind of outcome,
// whichever command it ends. The table is printed by --help and written in the README.
#include "result.h"

#include <QString>

namespace ExitCode {

constexpr int Ok = 0;            // done (with --strict: and no dish has errors)
constexpr int Failed = 1;        // could not be done: database or server out of reach, anything else
constexpr int Usage = 2;         // an option, argument or environment variable that cannot be used
constexpr int Refused = 3;       // refused by a check: the file, the branch, a service pairing
constexpr int DishErrors = 4;    // --strict: some dish has errors (not written by import)
constexpr int WriteFailed = 5;   // nothing written: the import rolled back, or a file (report, export) failed
constexpr int OutcomeUnknown = 6; // the answer to a write was lost: see the destination
constexpr int Interrupted = 130; // SIGINT or SIGTERM, as a shell reports a command its signal ended

// Where a failure happened decides between "could not" and "failed to write".
enum class Phase { Read, Write };

// The code of a failure's kind.
int forFailure(const Failure &failure, Phase phase);

// The table as --help shows it, one line a code.
QString table();

} // namespace ExitCode
