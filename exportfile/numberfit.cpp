#include "numberfit.h"

#include <algorithm>

NumberFit fitDecimal(std::string_view in, int precision, int scale, std::string &out)
{
    size_t p = 0;
    const bool negative = p < in.size() && in[p] == '-';
    if (negative)
        ++p;
    std::string digits;
    long long point = -1; // digits ahead of the decimal separator
    for (; p < in.size() && in[p] != 'e'; ++p) {
        if (in[p] == '.')
            point = static_cast<long long>(digits.size());
        else
            digits += in[p];
    }
    if (point < 0)
        point = static_cast<long long>(digits.size());
    long long exponent = 0;
    if (p < in.size()) {
        ++p;
        const bool down = p < in.size() && in[p] == '-';
        if (down)
            ++p;
        // An exponent this large leaves from_chars nothing it can represent anyway.
        for (; p < in.size(); ++p)
            exponent = std::min(exponent * 10 + (in[p] - '0'), 1000000LL);
        if (down)
            exponent = -exponent;
    }
    // The value is 0.digits x 10^intDigits once the leading zeros are gone.
    size_t lead = 0;
    while (lead < digits.size() && digits[lead] == '0')
        ++lead;
    digits.erase(0, lead);
    long long intDigits = point - static_cast<long long>(lead) + exponent;
    while (!digits.empty() && digits.back() == '0')
        digits.pop_back();
    if (digits.empty())
        return NumberFit::Fits; // zero
    NumberFit fit = NumberFit::Fits;
    if (static_cast<long long>(digits.size()) - intDigits > scale) {
        fit = NumberFit::Rounded;
        const long long keep = intDigits + scale;
        if (keep < 0) {
            digits.clear();
        } else {
            const bool up = digits[size_t(keep)] >= '5';
            digits.resize(size_t(keep));
            if (up) {
                long long i = static_cast<long long>(digits.size()) - 1;
                for (; i >= 0 && digits[size_t(i)] == '9'; --i)
                    digits[size_t(i)] = '0';
                if (i >= 0) {
                    ++digits[size_t(i)];
                } else {
                    digits.insert(digits.begin(), '1');
                    ++intDigits;
                }
            }
        }
        if (digits.empty() || digits.find_first_not_of('0') == std::string::npos) {
            out = "0";
        } else {
            out = negative ? "-" : "";
            out += digits;
            out += 'e';
            out += std::to_string(intDigits - static_cast<long long>(digits.size()));
        }
    }
    if (!digits.empty() && intDigits > precision - scale)
        return NumberFit::TooLarge;
    return fit;
}
