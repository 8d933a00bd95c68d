#pragma once
// A dish table shaped like the server's packet (the catalogue's PRATO columns plus IDERRO and
// MNPRATOLOCAL, in that order) and dishes added to it as the load pass adds them.
#include "appserver.h"
#include "memtable.h"

#include <QString>

struct Dish {
    Dish(QString tree, QString code, QString name, QString flags = QStringLiteral("0000000000"),
         QString localName = {})
        : tree(std::move(tree)), code(std::move(code)), name(std::move(name)), flags(std::move(flags)),
          localName(std::move(localName))
    {
    }
    QString tree;       // CDFILAUXPRAT: "P" or a branch code
    QString code;       // CDPRATO
    QString name;       // NMPRATO
    QString flags;      // IDERRO
    QString localName;  // MNPRATOLOCAL
};

inline void openDishTable(MemTable &t)
{
    t.close();
    t.setFields(Catalogue::packetFields(*Catalogue::table(u"PRATO")));
    t.createDataSet();
}

// Appended at the end and posted; the table's afterInsert runs first, as in the load pass.
inline void addDish(MemTable &t, const Dish &d)
{
    t.append();
    t.setText(t.fieldIndexOrThrow(u"CDFILAUXPRAT"), d.tree);
    t.setText(t.fieldIndexOrThrow(u"CDPRATO"), d.code);
    t.setText(t.fieldIndexOrThrow(u"CDFILIAL"), QStringLiteral("0001"));
    t.setText(t.fieldIndexOrThrow(u"NMPRATO"), d.name);
    t.setText(t.fieldIndexOrThrow(u"IDERRO"), d.flags);
    t.setText(t.fieldIndexOrThrow(u"MNPRATOLOCAL"), d.localName);
    t.post();
}
