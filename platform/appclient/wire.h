#pragma once
// The application server's wire format, used only where a call crosses a process boundary (the
// HTTP transport and the HTTP server); calls inside one process pass their values as they are.
//   request  = CBOR array of the method's arguments (byte strings for packets, integers -1/0 for
//              yes/no, text strings for texts)
//   response = CBOR map {"ok": bool, "payload": bytes} or {"ok": false, "error": text[, "key": text,
//              "detail": text, "dishRow": integer]}
#include "callargs.h"
#include "appclient_export.h"
#include "result.h"

#include <QByteArray>
#include <QCborArray>

#include <string>

namespace Wire {
IMP_APPCLIENT_EXPORT QByteArray encodeRequest(const CallArgs &args);
// The same bytes as a string, the HTTP client's request body without a copy of its own.
IMP_APPCLIENT_EXPORT std::string encodeRequestBody(const CallArgs &args);
// Any CBOR array, also one no typed call would make (tests and the fuzzer send such requests).
IMP_APPCLIENT_EXPORT QByteArray encodeRequest(const QCborArray &args);
IMP_APPCLIENT_EXPORT Result<CallArgs> decodeRequest(const QByteArray &body);
// The same, its packets sharing the body's bytes rather than copied: the body must outlive the
// arguments (the HTTP server's, for a request of hundreds of megabytes).
IMP_APPCLIENT_EXPORT Result<CallArgs> decodeRequestShared(const QByteArray &body);
IMP_APPCLIENT_EXPORT QByteArray encodeSuccess(const QByteArray &payload);
IMP_APPCLIENT_EXPORT QByteArray encodeFailure(const QString &message);
// A failure with its catalogue key, detail and dish row, which travel as "key", "detail" and
// "dishRow" beside "error".
IMP_APPCLIENT_EXPORT QByteArray encodeFailure(const Failure &failure);
IMP_APPCLIENT_EXPORT QByteArray encodeReply(const Result<QByteArray> &reply);
IMP_APPCLIENT_EXPORT Result<QByteArray> decodeResponse(const QByteArray &body);
// A failure as the client takes it from any server: a text always, a key of at most 64 characters.
IMP_APPCLIENT_EXPORT Failure received(Failure failure);
} // namespace Wire
