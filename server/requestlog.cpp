#include "requestlog.h"

namespace {

void append(QByteArray &out, const char *key, const QString &value)
{
    if (!out.isEmpty())
        out += ' ';
    out += key;
    out += '=';
    bool quote = value.isEmpty();
    for (QChar c : value)
        quote = quote || c.isSpace() || c == u'"' || c == u'=' || c.category() == QChar::Other_Control;
    if (!quote) {
        out += value.toUtf8();
        return;
    }
    QString escaped;
    escaped.reserve(value.size() + 2);
    for (QChar c : value) {
        if (c == u'"' || c == u'\\')
            escaped += u'\\';
        if (c == u'\n')
            escaped += QStringLiteral("\\n");
        else if (c.category() == QChar::Other_Control)
            escaped += u' '; // a tab or a carriage return would only break the line apart
        else
            escaped += c;
    }
    out += '"' + escaped.toUtf8() + '"';
}

} // namespace

QByteArray RequestLog::line() const
{
    QByteArray out;
    append(out, "time", time.toUTC().toString(Qt::ISODateWithMs));
    append(out, "peer", peer);
    append(out, "method", method);
    if (!path.isEmpty())
        append(out, "path", path.left(200));
    append(out, "ms", QString::number(ms));
    append(out, "status", QString::number(status));
    append(out, "outcome", outcome);
    if (!key.isEmpty())
        append(out, "key", key.left(64));
    if (!error.isEmpty())
        append(out, "error", error.left(300));
    for (const auto &[name, value] : fields)
        append(out, name.toLatin1().constData(), value);
    out += '\n';
    return out;
}
