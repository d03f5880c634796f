#pragma once
// The one reader of numbers written as text, for every number the host reads: command flags and
// arguments, `set` values, RString and RArgList conversions.
//
// Grammar (no spaces, no hexadecimal, no digit separators):
//   integer := [sign] digit+
//   number  := [sign] (digit+ [. digit*] | . digit+) [(e | E) [sign] digit+]
//            | [sign] ("inf" | "nan")               (any case; how the host prints them)
//   sign    := + | -
// A number too large for a double is out of range, never infinity; one too small becomes zero
// (or the nearest subnormal).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "rova/RovaExport.h"

namespace rova::host {

enum class NumberError {
    kNone,
    kNotANumber,  // the text does not follow the grammar
    kNotFinite,   // "nan" or "inf" where a finite value is needed
    kOutOfRange,  // beyond the type's range
};

struct ParsedNumber {
    double value = 0.0;
    NumberError error = NumberError::kNone;
    explicit operator bool() const { return error == NumberError::kNone; }
};

struct ParsedInteger {
    std::int64_t value = 0;
    NumberError error = NumberError::kNone;
    explicit operator bool() const { return error == NumberError::kNone; }
};

// Any number of the grammar, "nan" and "inf" included.
ROVA_API ParsedNumber parseNumber(std::string_view text);
// A number that must be finite: "nan" and "inf" are refused with kNotFinite.
ROVA_API ParsedNumber parseFiniteNumber(std::string_view text);
// A decimal integer within [minimum, maximum].
ROVA_API ParsedInteger parseInteger(std::string_view text, std::int64_t minimum = INT64_MIN,
                                    std::int64_t maximum = INT64_MAX);
// What was wrong, for messages: "expected a number, got 'x'", "'nan' is not a finite number", ...
ROVA_API std::string describeNumberError(NumberError error, std::string_view text,
                                         std::string_view expected = "a number");

}  // namespace rova::host
