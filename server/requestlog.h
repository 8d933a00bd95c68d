#pragma once
// The application server's log: one line per request, written to stderr by imp40500-server, as
// key=value pairs (logfmt) that grep, awk and log collectors read without a parser of their own:
//   time=2025-06-01T10:00:00.123Z peer=127.0.0.1:53422 method=Importacao ms=842 status=200 outcome=ok
//   operator=ADMIN file=pratos.txt dishes_written=3 dishes_refused=1 rows=PRATO:3,RECEPADR:9
// A value with a blank, a quote or an equals sign is quoted, with \" and \\ inside.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

struct RequestLog {
    QDateTime time;  // when the request's first byte came, UTC
    QString peer;    // address:port of the client
    QString method;  // the module's method, or the HTTP method of any other path
    QString path;    // the path, for a request that is no method call
    qint64 ms = 0;   // from the first byte of the request to the last of the answer
    int status = 0;  // HTTP status of the answer
    QString outcome; // ok; failed (the method refused the call); refused (the HTTP edge did)
    QString key;     // the catalogue key of a failure or refusal, when it has one
    QString error;   // the text of a failure
    QList<QPair<QString, QString>> fields; // what the request adds: an import's origin and totals

    QByteArray line() const; // ends with a newline
};
