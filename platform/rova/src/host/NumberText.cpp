// The host's one reader of numbers written as text.
#include "rovahost/NumberText.h"

#include "rovahost/Host.h"  // formatDouble

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace rova::host {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool equalsIgnoringCase(std::string_view text, std::string_view word) {
    if (text.size() != word.size())
        return false;
    for (std::size_t k = 0; k < text.size(); ++k)
        if (std::tolower(static_cast<unsigned char>(text[k])) != word[k])
            return false;
    return true;
}

// True when text follows `number` of the grammar without its inf/nan forms.
bool isDecimalNumber(std::string_view text) {
    std::size_t k = 0;
    const std::size_t n = text.size();
    if (k < n && (text[k] == '+' || text[k] == '-'))
        ++k;
    std::size_t digits = 0;
    while (k < n && isDigit(text[k])) ++k, ++digits;
    if (k < n && text[k] == '.') {
        ++k;
        while (k < n && isDigit(text[k])) ++k, ++digits;
    }
    if (digits == 0)
        return false;
    if (k < n && (text[k] == 'e' || text[k] == 'E')) {
        ++k;
        if (k < n && (text[k] == '+' || text[k] == '-'))
            ++k;
        std::size_t exponentDigits = 0;
        while (k < n && isDigit(text[k])) ++k, ++exponentDigits;
        if (exponentDigits == 0)
            return false;
    }
    return k == n;
}

}  // namespace

ParsedNumber parseNumber(std::string_view text) {
    ParsedNumber out;
    std::string_view body = text;
    const bool negative = !body.empty() && body.front() == '-';
    if (!body.empty() && (body.front() == '+' || body.front() == '-'))
        body.remove_prefix(1);
    if (equalsIgnoringCase(body, "inf")) {
        out.value = negative ? -std::numeric_limits<double>::infinity()
                             : std::numeric_limits<double>::infinity();
        return out;
    }
    if (equalsIgnoringCase(body, "nan")) {
        out.value = std::numeric_limits<double>::quiet_NaN();
        return out;
    }
    if (!isDecimalNumber(text)) {
        out.error = NumberError::kNotANumber;
        return out;
    }
    // strtod follows the grammar checked above exactly; it also tells overflow from underflow.
    // strtod reads exactly the grammar checked above and tells overflow from underflow; it needs a
    // terminated copy, kept on the stack for every number of ordinary length.
    char small[256];
    std::string large;
    const char* terminated = small;
    if (text.size() < sizeof small) {
        text.copy(small, text.size());
        small[text.size()] = '\0';
    } else {
        large.assign(text);
        terminated = large.c_str();
    }
    char* end = nullptr;
    const double value = std::strtod(terminated, &end);
    if (std::isinf(value)) {
        out.error = NumberError::kOutOfRange;
        return out;
    }
    out.value = value;
    return out;
}

ParsedNumber parseFiniteNumber(std::string_view text) {
    ParsedNumber out = parseNumber(text);
    if (out && !std::isfinite(out.value))
        out.error = NumberError::kNotFinite;
    return out;
}

ParsedInteger parseInteger(std::string_view text, std::int64_t minimum, std::int64_t maximum) {
    ParsedInteger out;
    std::string_view body = text;
    if (!body.empty() && body.front() == '+')
        body.remove_prefix(1);
    const bool negative = !body.empty() && body.front() == '-';
    const std::string_view digits = negative ? body.substr(1) : body;
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        out.error = NumberError::kNotANumber;
        return out;
    }
    const auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), out.value);
    if (ec == std::errc::result_out_of_range || out.value < minimum || out.value > maximum) {
        out.error = NumberError::kOutOfRange;
        return out;
    }
    if (ec != std::errc() || ptr != body.data() + body.size())
        out.error = NumberError::kNotANumber;
    return out;
}

std::string describeNumberError(NumberError error, std::string_view text,
                                std::string_view expected) {
    const std::string quoted = "'" + std::string(text) + "'";
    switch (error) {
        case NumberError::kNone:
            return "";
        case NumberError::kNotANumber:
            return "expected " + std::string(expected) + ", got " + quoted;
        case NumberError::kNotFinite:
            return quoted + " is not a finite number";
        case NumberError::kOutOfRange:
            return quoted + " is out of range (expected " + std::string(expected) + ")";
    }
    return "";
}

std::string formatDouble(double value) {
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc())
        return std::to_string(value);
    return std::string(buffer, end);
}

}  // namespace rova::host
