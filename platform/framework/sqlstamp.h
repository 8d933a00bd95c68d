#pragma once
// "yyyy-MM-dd HH:mm:ss", as the destination's tables keep a date-time, read by hand: Qt's parser
// reads in local time and has the C library read the time zone again several times a value, and a
// whole table read back after an import would spend most of its time there. For both the driver's
// UTF-16 text and SQLite's own UTF-8.

namespace SqlStamp {

// The year, month, day, hour, minute and second of the first 19 characters of `s`; false when they
// are not in that form (their ranges are the caller's to check).
template <typename Char>
bool parts(const Char *s, int (&n)[6])
{
    for (int &v : n)
        v = 0;
    int at = 0;
    for (int i = 0; i < 19; ++i) {
        const auto c = s[i];
        if (i == 4 || i == 7 || i == 10 || i == 13 || i == 16) {
            if (c != Char(i < 10 ? '-' : i == 10 ? ' ' : ':'))
                return false;
            ++at;
        } else if (c >= Char('0') && c <= Char('9')) {
            n[at] = n[at] * 10 + int(c - Char('0'));
        } else {
            return false;
        }
    }
    return true;
}

} // namespace SqlStamp
