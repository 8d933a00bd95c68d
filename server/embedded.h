#pragma once
// Lets a NetConnection without a host run the module in this process, on the database of the
// signed-in operator's environment (Ambiente::databaseUrl). The host, the package and the command
// line call this once at start-up.
void registerEmbeddedServer();
