#pragma once
// The dish table's columns that belong to the screen, not to the destination: the dish's error
// flags and the destination's name of a dish already there. They travel with every PRATO packet
// (the server adds them to its empty packets, the load pass to a packet that lacks them) but are
// never stored, so they take no part in updates.
#include "memtable.h"

#include <QList>

namespace DishColumns {
inline constexpr QStringView kErrorFlags = u"IDERRO";       // one flag character per rule
inline constexpr QStringView kLocalName = u"MNPRATOLOCAL";  // the destination's name of the dish

inline QList<FieldDef> screenOnly()
{
    FieldDef erro = FieldDef::text(kErrorFlags.toString(), 10);
    erro.providerFlags = 0;
    FieldDef local = FieldDef::text(kLocalName.toString(), 40);
    local.providerFlags = 0;
    return {erro, local};
}
} // namespace DishColumns
