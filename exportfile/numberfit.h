#pragma once
// How a number fits the destination's column, worked out on its decimal digits as written so that
// no binary fraction decides a rounding.
#include <cstdint>
#include <string>
#include <string_view>

// As written, rounded at the column's scale, or with more integer digits than the column holds.
enum class NumberFit : std::uint8_t { Fits, Rounded, TooLarge };

// `in` is a number's text as built for from_chars ("-123.45e-2"). For a column of `precision`
// digits, `scale` of them decimals: more decimals than the scale are rounded half away from zero
// into `out` (as "-12346e-6"; left empty when nothing was rounded), and more integer digits than
// precision - scale, after the rounding, make the value too large.
NumberFit fitDecimal(std::string_view in, int precision, int scale, std::string &out);
