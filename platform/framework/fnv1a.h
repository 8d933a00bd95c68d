#pragma once
// FNV-1a, the hash of the in-memory key sets (the load pass's repeated keys, the server's index of
// a packet's dishes and its snapshot of a branch's codes): a multiply and an exclusive-or per code
// unit, several times cheaper than qHash on the short codes these hold. Never stored.
#include <QtGlobal>

#include <type_traits>

namespace Fnv1a {

inline constexpr quint64 kBasis = 1469598103934665603ull;
inline constexpr quint64 kPrime = 1099511628211ull;

// Adds the code units p[0..n) to h: bytes as unsigned, UTF-16 units as their values.
template <typename Unit>
inline quint64 add(quint64 h, const Unit *p, qsizetype n)
{
    for (qsizetype i = 0; i < n; ++i) {
        h ^= quint64(std::make_unsigned_t<Unit>(p[i]));
        h *= kPrime;
    }
    return h;
}

} // namespace Fnv1a
