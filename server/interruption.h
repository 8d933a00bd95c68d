#pragma once
// An import run inside a process that was asked to stop (SIGINT or SIGTERM to the command line,
// which runs the server in its own process) ends at its next safe point: between the tables it
// writes and before its commit. The failure goes back as any other, so the transaction guard
// rolls everything back and nothing of the import is written.
#include "result.h"

namespace RdmMethods {
// A failure ("Imp_Interrompida") when the process's stop was requested; success otherwise.
Status stopPoint();
} // namespace RdmMethods
