#pragma once

#include <array>
#include <charconv>
#include <string>

namespace Kivo::detail {

// The shortest text that reads back as the same number: what recordings and messages write.
template <typename Number>
std::string shortestText(Number v) {
    std::array<char, 32> buf{};
    const auto [ptr, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    (void)ec;  // 32 characters hold any float or double
    return std::string(buf.data(), ptr);
}

}  // namespace Kivo::detail
