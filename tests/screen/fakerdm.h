#pragma once
// A stand-in for the remote data module: answers GetDiretorios from a list of directories (or
// fails with a given message) and counts the calls. Other methods fail.
#include "appserver.h"
#include "datapacket.h"
#include "memtable.h"

#include <QHash>
#include <QStringList>

class FakeRdm final : public RemoteDataModule {
public:
    QStringList directories;   // DSDIRETORIO of the rows of the packet
    QString failWith;          // non-empty: GetDiretorios fails with this message
    QHash<QString, int> calls;

    Result<QByteArray> call(const QString &method, const CallArgs &) override
    {
        ++calls[method];
        if (method != QLatin1String("GetDiretorios"))
            return Result<QByteArray>::fail(QStringLiteral("Método não disponível: %1").arg(method));
        if (!failWith.isEmpty())
            return Result<QByteArray>::fail(failWith);
        MemTable t(QStringLiteral("DIRETORIOS"));
        t.setFields({FieldDef::text(QStringLiteral("CDPROGRAMA"), 8),
                     FieldDef::text(QStringLiteral("DSDIRETORIO"), 100)});
        t.createDataSet();
        for (const QString &d : directories) {
            t.append();
            t.setText(0, u"IMP40500");
            t.setText(1, d);
            t.post();
        }
        return DataPacket::save(t);
    }
};

// The application server cannot be reached.
class DownTransport final : public ServerTransport {
public:
    int calls = 0;
    Result<QByteArray> call(const QString &, const CallArgs &) override
    {
        ++calls;
        return Result<QByteArray>::fail(QStringLiteral("Servidor de aplicação fora do ar."));
    }
};
