// One field of an export file per input, through the conversions of the pt_BR and en_US locales:
// a number or a date that is read must write back as the same value, a number fitted to a column is
// rounded no further than half a unit of its scale, and nothing may crash.
#include "valuedecoder.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

const ValueDecoder *g_decoders[2];

void check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Built once, outside the runs, so their caches are not taken for leaks.
    g_decoders[0] = new ValueDecoder(QLocale(QLocale::Portuguese, QLocale::Brazil));
    g_decoders[1] = new ValueDecoder(QLocale(QLocale::English, QLocale::UnitedStates));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A field never holds its terminator nor crosses a line.
    const QByteArrayView field(reinterpret_cast<const char *>(data), qsizetype(size));
    if (size > 256 || field.contains(ExportText::kTerminatorByte) || field.contains('\n'))
        return 0;
    const QString text = ExportText::decode(field);
    for (const ValueDecoder *d : g_decoders) {
        const auto n = d->toNumber(text);
        if (n)
            check(d->toNumber(d->fromNumber(*n)) == n);
        // For a quantity column: as read, or within half a unit of the scale of it; too large
        // exactly when the digits say 13 or more integer digits.
        NumberFit fit = NumberFit::Fits;
        const auto fitted = d->toNumber(text, 18, 6, &fit);
        check(fitted.has_value() == n.has_value());
        if (n) {
            const double slack = 5e-7 + std::fabs(*n) * 1e-15;
            check(fit == NumberFit::Fits ? *fitted == *n : std::fabs(*fitted - *n) <= slack);
            check(fit == NumberFit::TooLarge ? std::fabs(*fitted) >= 1e12 * (1 - 1e-15) : std::fabs(*fitted) <= 1e12);
        }
        if (const auto dt = d->toDateTime(text))
            check(dt->isValid() && d->toDateTime(d->fromDateTime(*dt)) == dt);
        (void)d->toInteger(text);
        (void)d->toBoolean(text);
    }
    return 0;
}
