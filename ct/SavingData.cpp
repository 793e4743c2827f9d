#include "SavingData.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

SavingData::SavingData(const QString &path, const QString &name, const QString &tag, int sliceNo)
    : path(path)
    , name(name)
    , tag(tag)
    , no(sliceNumberText(sliceNo))
{
}

double SavingData::clipBound(double bound, int n)
{
    const double top = n > 0 ? double(n) : 0.0;
    if (!(bound > 0.0)) // also a NaN
        return 0.0;
    return bound > top ? top : bound;
}

namespace {

char *appendText(char *out, const char *text)
{
    const size_t length = std::strlen(text);
    std::memcpy(out, text, length);
    return out + length;
}

// Numbers are written as a text stream writes a double by default: the value
// rounded to 6 significant digits (an exact tie rounds away from zero), fixed
// notation for decimal exponents -4 ... 5 and exponent notation otherwise,
// trailing zeros dropped, at least two exponent digits; "nan", "inf", "-inf";
// negative zero as "0". Formatting this way by hand is many times faster than
// the stream and gives the same bytes.

// "00" to "99".
constexpr char digitPairs[] = "00010203040506070809101112131415161718192021222324252627282930313233"
                              "34353637383940414243444546474849505152535455565758596061626364656667"
                              "6869707172737475767778798081828384858687888990919293949596979899";

// Writes the 6 digits of `digits` (100000 ... 999999) with decimal exponent e.
// Pieces are stored 8 bytes at a time and the end advanced by their length:
// the caller's buffer has room beyond every line.
char *appendDigits(char *out, bool negative, int digits, int e)
{
    char d[16] = {};
    std::memcpy(d, digitPairs + 2 * (digits / 10000), 2);
    std::memcpy(d + 2, digitPairs + 2 * (digits / 100 % 100), 2);
    std::memcpy(d + 4, digitPairs + 2 * (digits % 100), 2);
    int used = 6;
    while (used > 1 && d[used - 1] == '0')
        --used;
    *out = '-';
    out += negative;
    if (e < -4 || e >= 6) {
        *out++ = d[0];
        if (used > 1) {
            *out = '.';
            std::memcpy(out + 1, d + 1, 8);
            out += used;
        }
        *out++ = 'e';
        *out++ = e < 0 ? '-' : '+';
        const int magnitude = e < 0 ? -e : e;
        if (magnitude < 10)
            *out++ = '0';
        return std::to_chars(out, out + 4, magnitude).ptr;
    }
    if (e >= 0) {
        std::memcpy(out, d, 8);
        out += e + 1;
        if (used > e + 1) {
            *out = '.';
            std::memcpy(out + 1, d + e + 1, 8);
            out += used - e;
        }
        return out;
    }
    std::memcpy(out, "0.000000", 8);
    out += 1 - e; // "0." and -e - 1 zeros
    std::memcpy(out, d, 8);
    return out + used;
}

// The exact path: the C library prints the exact binary value to far more
// digits than any double needs to settle the rounding at the 7th digit.
char *appendRealExact(char *out, double a, bool negative)
{
    char text[160];
    std::snprintf(text, sizeof text, "%.120e", a);
    // text: d.ddd...e[+-]xx
    int digits = text[0] - '0';
    for (int i = 2; i < 7; ++i)
        digits = digits * 10 + (text[i] - '0');
    const char *rest = text + 7;
    const char *exponent = std::strchr(text, 'e');
    int e = std::atoi(exponent + 1);
    // A 7th digit of 5 is half or more: up, ties included.
    if (*rest >= '5' && ++digits == 1000000) {
        digits = 100000;
        ++e;
    }
    return appendDigits(out, negative, digits, e);
}

// Exact powers of ten in a double.
constexpr double powersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

char *appendReal(char *out, double v)
{
    if (std::isnan(v))
        return appendText(out, "nan");
    if (std::isinf(v))
        return appendText(out, v < 0 ? "-inf" : "inf");
    if (v == 0.0) {
        *out++ = '0';
        return out;
    }
    const bool negative = v < 0;
    const double a = std::fabs(v);
    // Scaled to [1e5, 1e6) by one exact power of ten, a carries one rounding
    // error far below the margins checked here; values for which the rounding
    // could be in doubt, or that need a power beyond 1e22, take the exact path.
    // The decimal exponent from the binary one (floor(e2 log10 2) for the
    // exponents of normal numbers); one step off at most, which the loop corrects.
    std::uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    const int binaryExponent = static_cast<int>(bits >> 52) - 1023;
    int e = (binaryExponent * 78913) >> 18;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int k = 5 - e;
        if (k > 22 || k < -22)
            break;
        const double m = k >= 0 ? a * powersOfTen[k] : a / powersOfTen[-k];
        if (m < 1e5) {
            --e;
            continue;
        }
        if (m >= 1e6) {
            ++e;
            continue;
        }
        const auto whole = static_cast<std::int64_t>(m); // m > 0: truncation is floor
        const double fraction = m - static_cast<double>(whole);
        if (std::fabs(fraction - 0.5) < 1e-6 || m - 1e5 < 1e-6 || 1e6 - m < 1e-6)
            break;
        int digits = static_cast<int>(whole) + (fraction > 0.5 ? 1 : 0);
        int exponent = e;
        if (digits == 1000000) {
            digits = 100000;
            ++exponent;
        }
        return appendDigits(out, negative, digits, exponent);
    }
    return appendRealExact(out, a, negative);
}

char *appendInt(char *out, int v)
{
    return std::to_chars(out, out + 12, v).ptr;
}

} // namespace

QByteArray SavingData::resultText(int n, const std::function<const double *(int z)> &rowOf,
                                  double x0, double z0, double x1, double z1)
{
    x0 = clipBound(x0, n);
    z0 = clipBound(z0, n);
    x1 = clipBound(x1, n);
    z1 = clipBound(z1, n);
    // The bounds are within 0..n now, so the truncations fit an int and every
    // pixel visited lies inside the result.
    const int xFrom = int(std::trunc(x0));
    const int zFrom = int(std::trunc(z0));
    const int xTo = int(std::ceil(x1));
    const int zTo = int(std::ceil(z1));
    const qsizetype columns = std::max(0, xTo - xFrom);
    const qsizetype rows = std::max(0, zTo - zFrom);

    // The longest line: two ints of 11 characters, a number of at most 13
    // ("-1.23457e-308"), two tabs and the end of line.
    constexpr qsizetype lineMax = 11 + 1 + 11 + 1 + 32 + 1;
    QByteArray text;
    text.resize(512 + columns * rows * lineMax);
    char *const begin = text.data();
    char *out = begin;
    out = appendText(out, "#ORVO-CTImg\n# Range_X0       : ");
    out = appendReal(out, x0);
    out = appendText(out, "\n# Range_Y0       : ");
    out = appendReal(out, z0);
    out = appendText(out, "\n# Range_X1       : ");
    out = appendReal(out, x1);
    out = appendText(out, "\n# Range_Y1       : ");
    out = appendReal(out, z1);
    out = appendText(out, "\n# sx,sy, ex,ey   : ");
    const double bounds[4] = {x0, z0, x1, z1};
    for (int i = 0; i < 4; ++i) {
        out = appendReal(out, bounds[i]);
        *out++ = i < 3 ? '\t' : '\n';
    }
    for (int z = zFrom; z < z1; ++z) {
        const double *row = rowOf(z);
        char zText[16];
        zText[0] = '\t';
        const qsizetype zLength = appendInt(zText + 1, z) - zText;
        zText[zLength] = '\t';
        for (int x = xFrom; x < x1; ++x) {
            out = appendInt(out, x);
            std::memcpy(out, zText, 16);
            out += zLength + 1;
            out = appendReal(out, row[x]);
            *out++ = '\n';
        }
    }
    text.resize(out - begin);
    return text;
}

QByteArray SavingData::resultText(int n, const double *values, double x0, double z0, double x1,
                                  double z1)
{
    return resultText(
        n, [values, n](int z) { return values + qsizetype(z) * n; }, x0, z0, x1, z1);
}
