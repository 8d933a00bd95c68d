#pragma once
// A value or the message of why there is none. Errors cross module boundaries as values;
// only the abandoned action of MensErro travels as an exception.
#include "platform_export.h"

#include <QString>
#include <optional>
#include <utility>
#include <variant>

struct IMP_PLATFORM_EXPORT Failure {
    // What kind of outcome it is. What a caller does next, a command's exit code and the JSON's
    // error follow from it, never from which texts are empty.
    enum class Kind {
        Refused,         // a check said no: the file, the branch, a pairing, the server's own checks
        Unreachable,     // the database or the server could not be reached: nothing was tried
        DatabaseRefused, // the database refused a statement (while writing: rolled back)
        NotWritten,      // nothing written: a report or export file, or an import rolled back
        OutcomeUnknown,  // the answer to a write was lost: the destination has to be looked at
        Interrupted,     // stopped by the operator or by a signal
        Unexpected,      // a fault of the program or of the system, in its own words
    };

    QString message;   // text for a person, already in the operator's language
    QString key;       // catalogue key when the text came from the catalogue, else empty
    QString detail;    // the driver's or the system's own words, for the log and --verbose
    // An import refused for one dish: the dish's row in the call's dish packet, which the client
    // turns into the dish's line in the file; -1 when the failure is about no one dish.
    int dishRow = -1;
    // The field the failure is about, by the name of the screen's component ("medNmArquivo",
    // "medCdFilial"); whoever shows it puts the person back there. Empty: no field.
    QString field = {};
    // The kind, when the place that failed knows it better than its catalogue key tells.
    std::optional<Kind> givenKind = std::nullopt;

    // The kind given, else the one of the catalogue key: a database or server out of reach, a
    // stop, a lost answer, a file not written, a refused statement; any other catalogue message
    // is a check that said no, and a failure without a key is unexpected.
    Kind kind() const { return givenKind ? *givenKind : kindOfKey(key); }
    static Kind kindOfKey(const QString &key);
    // The kind as the command line's JSON names it: "refused", "unreachable", "database",
    // "not_written", "outcome_unknown", "interrupted", "unexpected".
    static const char *kindName(Kind kind);
    static std::optional<Kind> kindNamed(QStringView name);
    // An exception's or the system's words, as the operator is told them.
    static Failure unexpected(const QString &text, const QString &detail = {})
    {
        return Failure{text, {}, detail, -1, {}, Kind::Unexpected};
    }
    Failure &onField(const QString &name)
    {
        field = name;
        return *this;
    }
};

template <typename T>
class Result {
public:
    Result(T value) : m_v(std::in_place_index<0>, std::move(value)) {}
    Result(Failure f) : m_v(std::in_place_index<1>, std::move(f)) {}
    static Result fail(QString message, QString key = {}, QString detail = {})
    {
        return Result(Failure{std::move(message), std::move(key), std::move(detail)});
    }
    static Result fail(Failure f) { return Result(std::move(f)); }

    bool ok() const { return m_v.index() == 0; }
    explicit operator bool() const { return ok(); }
    T &value() & { return std::get<0>(m_v); }
    const T &value() const & { return std::get<0>(m_v); }
    T &&value() && { return std::get<0>(std::move(m_v)); }
    T *operator->() { return &value(); }
    const T *operator->() const { return &value(); }
    T &operator*() & { return value(); }
    const Failure &failure() const { return std::get<1>(m_v); }
    QString error() const { return ok() ? QString() : failure().message; }

private:
    std::variant<T, Failure> m_v;
};

struct Unit {};
using Status = Result<Unit>;
inline Status okStatus() { return Status(Unit{}); }
