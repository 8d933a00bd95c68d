#pragma once
// A value or the message of why there is none. Errors cross module boundaries as values;
// only the abandoned action of MensErro travels as an exception.
#include <QString>
#include <utility>
#include <variant>

struct Failure {
    QString message;   // text for a person, already in the operator's language
    QString key;       // catalogue key when the text came from the catalogue, else empty
    QString detail;    // the driver's or the system's own words, for the log and --verbose
    // An import refused for one dish: the dish's row in the call's dish packet, which the client
    // turns into the dish's line in the file; -1 when the failure is about no one dish.
    int dishRow = -1;
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
