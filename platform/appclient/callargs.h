#pragma once
// The arguments of an application-server call as values: texts (QString), integers (qint64; the
// yes/no flags travel as -1 and 0) and data packets (QByteArray, shared, never copied on the way
// in-process). A request that came over the wire may hold other kinds (booleans, numbers, lists,
// null); the methods refuse them with the same words whatever the transport.
#include "appclient_export.h"

#include <QVariant>
#include <QVariantList>

using CallArgs = QVariantList;

namespace CallArg {
inline bool isText(const QVariant &v) { return v.typeId() == QMetaType::QString; }
inline bool isPacket(const QVariant &v) { return v.typeId() == QMetaType::QByteArray; }
inline bool isBool(const QVariant &v) { return v.typeId() == QMetaType::Bool; }
inline bool isInteger(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}
// A yes/no flag as the typed calls send it (automation booleans: true is all bits set).
inline QVariant flag(bool b) { return QVariant(qint64(b ? -1 : 0)); }
} // namespace CallArg
