#pragma once
// The application server "IMP40500.rdmImpoPrato" as the client sees it: the transports and the
// connection (transport.h), the typed calls (rdmcalls.h) and the destination tables' catalogue
// (catalogue.h). The wire format is in wire.h, for the HTTP edge alone.
#include "catalogue.h"
#include "rdmcalls.h"
#include "transport.h"
