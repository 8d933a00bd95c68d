#pragma once
// The message catalogue: "key|text" lines in a UTF-8 resource. Every message the operator sees is
// looked up here by key.
#include "platform_export.h"

#include <QHash>
#include <QString>

class IMP_PLATFORM_EXPORT TMessages {
public:
    // The catalogue of this process (loaded once from the resource).
    static const TMessages &instance();

    TMessages() = default;
    // Parses "key|text" lines; blank lines and lines starting with '#' are skipped.
    static TMessages fromText(const QString &text);

    // The text of the key; the key itself in brackets when it is missing, so a gap shows.
    QString Msg(const QString &key) const;
    bool contains(const QString &key) const;
    QStringList keys() const;

private:
    QHash<QString, QString> m_entries;
};

inline QString Msg(const QString &key) { return TMessages::instance().Msg(key); }
