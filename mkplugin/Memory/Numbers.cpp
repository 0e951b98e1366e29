#include "Numbers.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "RuntimeError.h"

namespace ramtidy {

const char* ErrorName(ErrorCode code) {
    switch (code) {
        case ErrorCode::InvalidCall:
            return "Invalid procedure call or argument";
        case ErrorCode::Overflow:
            return "Overflow";
        case ErrorCode::SubscriptOutOfRange:
            return "Subscript out of range";
        case ErrorCode::DivisionByZero:
            return "Division by zero";
        case ErrorCode::TypeMismatch:
            return "Type mismatch";
    }
    return "Run-time error";
}

double ReadNumber(std::u16string_view text) {
    size_t i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    std::string number;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        if (text[i] == u'-')
            number += '-';
        ++i;
    }
    auto is_digit = [&](size_t k) { return k < text.size() && text[k] >= u'0' && text[k] <= u'9'; };
    bool any_digit = false;
    for (; is_digit(i); ++i, any_digit = true)
        number += static_cast<char>(text[i]);
    if (i < text.size() && text[i] == u'.') {
        ++i;
        std::string fraction;
        for (; is_digit(i); ++i)
            fraction += static_cast<char>(text[i]);
        if (!fraction.empty()) {
            any_digit = true;
            number += (number.empty() || number == "-") ? "0." : ".";
            number += fraction;
        }
    }
    if (!any_digit)
        return 0.0;
    double value = 0.0;
    // from_chars: locale-independent and correctly rounded, whatever the digit count.
    auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Out of range with a whole part of at least 1 is too large; otherwise it is a
        // fraction too small for a double, which reads as 0.
        std::string whole = number.substr(0, number.find('.'));
        if (whole.find_first_not_of("-0") != std::string::npos)
            throw RuntimeError(ErrorCode::Overflow,
                               "The number " + number.substr(0, 30) + "... is too large");
        return 0.0;
    }
    return value;
}

double RoundHalfEven(double x) {
    if (!std::isfinite(x))
        return x;
    double floor = std::floor(x);
    double diff = x - floor;
    if (diff > 0.5)
        return floor + 1.0;
    if (diff < 0.5)
        return floor;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

namespace {

template <typename Int>
Int RoundChecked(double x, const char* what) {
    double r = RoundHalfEven(x);
    // The upper bound as the power of two above the maximum: a double holds that exactly,
    // while a 64-bit maximum would round up to it and let 2^63 through.
    const double min = static_cast<double>(std::numeric_limits<Int>::min());
    if (!(r >= min && r < -min))
        throw RuntimeError(ErrorCode::Overflow, std::string(what) + " does not fit its variable");
    return static_cast<Int>(r);
}

}  // namespace

int64_t RoundToInt64(double x, const char* what) {
    return RoundChecked<int64_t>(x, what);
}
int32_t RoundToInt32(double x, const char* what) {
    return RoundChecked<int32_t>(x, what);
}
int16_t RoundToInt16(double x, const char* what) {
    return RoundChecked<int16_t>(x, what);
}

std::u16string Decimal(int64_t value) {
    char buf[24];
    auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    return std::u16string(buf, end);
}

}  // namespace ramtidy
