// Reading and writing the number text of the window's fields, without QLocale or the C locale.
#include "util/numbertext.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace chamber {

namespace {

bool isDigitChar(QChar c)
{
    // QChar::isDigit() would also accept Arabic-Indic and other non-ASCII digits
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

} // namespace

// Nothing is skipped before the number: a text that begins with a blank reads 0, like any
// other text that does not begin with a sign, a digit or a point.
double readnumber(QStringView text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }

    std::string digits;
    bool seenPoint = false;
    bool seenDigit = false;
    bool integerPartNonZero = false;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (isDigitChar(c)) {
            seenDigit = true;
            if (!seenPoint && c != u'0')
                integerPartNonZero = true;
            digits.push_back(char(c.unicode()));
        } else if (c == u'.' && !seenPoint) {
            seenPoint = true;
            digits.push_back('.');
        } else {
            break;
        }
    }
    if (!seenDigit)
        return 0.0;

    double value = 0.0;
    const std::errc error = std::from_chars(digits.data(), digits.data() + digits.size(), value,
                                            std::chars_format::fixed)
                                .ec;
    if (error == std::errc::result_out_of_range) {
        // too many digits before the point saturates; only a tiny fraction can underflow
        value = integerPartNonZero ? DBL_MAX : 0.0;
    } else if (error != std::errc()) {
        return 0.0;
    }
    // + 0.0 turns a negative zero ("-0") into a plain zero
    return (negative ? -value : value) + 0.0;
}

// The value's 15 significant decimal digits are rounded as a digit string, so 0.15 (stored as
// 0.1499999...) still gives "0.2" and every half goes away from zero.
QString writenumber(double value, int decimals)
{
    // only the patterns "0" and "0.0" are used; the bound keeps a wrong call from building a
    // text of gigabytes
    decimals = std::clamp(decimals, 0, 15);
    if (!std::isfinite(value))
        value = 0.0;

    // "d.dddddddddddddde+XXX": 15 significant digits, independent of any locale
    char scientific[64];
    const auto [end, error] = std::to_chars(scientific, scientific + sizeof scientific, value,
                                            std::chars_format::scientific, 14);
    if (error != std::errc())
        return decimals == 0 ? QStringLiteral("0") : QStringLiteral("0.0");

    const char *p = scientific;
    const bool negative = *p == '-';
    if (negative)
        ++p;
    std::string significant;
    for (; p != end && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9')
            significant.push_back(*p);
    }
    int exponent = 0;
    if (p != end)
        std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), end, exponent);

    // the digits that stay: all those before the point plus the wanted decimals
    const long long keep = (long long)exponent + 1 + decimals;
    std::string kept;
    bool roundUp = false;
    if (keep >= (long long)significant.size()) {
        kept = significant + std::string(std::size_t(keep) - significant.size(), '0');
    } else if (keep >= 0) {
        kept = significant.substr(0, std::size_t(keep));
        roundUp = significant[std::size_t(keep)] >= '5';
    }
    if (roundUp) {
        auto it = kept.rbegin();
        for (; it != kept.rend() && *it == '9'; ++it)
            *it = '0';
        if (it == kept.rend())
            kept.insert(kept.begin(), '1');
        else
            ++*it;
    }

    const std::size_t firstNonZero = kept.find_first_not_of('0');
    const bool zero = firstNonZero == std::string::npos;
    kept.erase(0, zero ? kept.size() : firstNonZero);
    // at least one digit before the point
    if (kept.size() < std::size_t(decimals) + 1)
        kept.insert(0, std::size_t(decimals) + 1 - kept.size(), '0');
    if (decimals > 0)
        kept.insert(kept.size() - std::size_t(decimals), 1, '.');
    if (negative && !zero)
        kept.insert(kept.begin(), '-');
    return QString::fromLatin1(kept.data(), qsizetype(kept.size()));
}

} // namespace chamber
