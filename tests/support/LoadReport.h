#pragma once
// Reading what the plug-in writes to standard error while it loads: the registration line, and
// the reports of failing host calls that tests provoke with the host's `fault` command.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace kivorova::testing {

inline const std::string kLoading = "Registering Kivo nodes...";
inline const std::string kDone = " done.\n";

// What the run wrote before the plug-in was unloaded (the host unloads it at exit at the latest).
inline std::string loadOutput(const std::string& err) {
    return err.substr(0, err.find("Unregistering Kivo nodes..."));
}

inline std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// The parts appear in this order in the text.
inline void expectInOrder(const std::string& text, const std::vector<std::string>& parts) {
    std::size_t at = 0;
    for (const std::string& part : parts) {
        const auto found = text.find(part, at);
        ASSERT_NE(found, std::string::npos) << "missing '" << part << "' in:\n" << text;
        at = found + part.size();
    }
}

}  // namespace kivorova::testing
