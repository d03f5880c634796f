#pragma once
// Reading values that the host prints for `get`.
#include <sstream>
#include <string>
#include <vector>

namespace kivorova::testing {

// The numbers of one printed line ("1 0 0 ..."), in order.
inline std::vector<double> numbersOf(const std::string& line) {
    std::istringstream in(line);
    std::vector<double> numbers;
    for (double value = 0.0; in >> value;) {
        numbers.push_back(value);
    }
    return numbers;
}

// The lines of a stream's text, without their line ends.
inline std::vector<std::string> linesOf(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace kivorova::testing
