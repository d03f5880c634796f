#pragma once
// Reading what the plug-in writes to standard error while it loads: the registration line, and
// the reports of failing host calls that tests provoke with the host's `fault` command.
#include <gtest/gtest.h>

#include <cstddef>
#include <ostream>
#include <sstream>
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

// What the run wrote on standard error besides the plug-in's load and unload lines.
inline std::string complaints(const std::string& err) {
    std::string out;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);)
        if (line.find("Registering Kivo nodes") == std::string::npos &&
            line.find("Unregistering Kivo nodes") == std::string::npos && line != " done.")
            out += line + "\n";
    return out;
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

// A configuring call of a node type made to fail while the plug-in loads: the load output begins
// with the unit's report naming the call's source line, holds that one report, and the load
// completes after the status's own report.
inline void expectConfigureReport(const std::string& err, const std::string& unit,
                                  unsigned int line) {
    const std::string load = loadOutput(err);
    const std::string report =
        kLoading + "\nAPI error detected in " + unit + " at line " + std::to_string(line) + "\n";
    EXPECT_EQ(load.compare(0, report.size(), report), 0) << "expected start:\n"
                                                         << report << "got:\n"
                                                         << err;
    EXPECT_EQ(occurrences(load, "API error detected"), 1u) << err;
    ASSERT_GT(load.size(), report.size() + kDone.size()) << err;
    EXPECT_EQ(load.substr(load.size() - kDone.size()), kDone) << err;
}

// Parameters of the fault tests: the `fault` statement names each case.
struct FaultCase {
    std::string fault;
    std::string message;  // what the failure must report
};

inline void PrintTo(const FaultCase& c, std::ostream* out) {
    *out << c.fault;
}

struct ConfigureCase {
    std::string fault;
    std::string anchor;  // text of a line before the call (a helper or the attribute's creation)
    std::string call;    // text of the failing call, the first after the anchor
};

inline void PrintTo(const ConfigureCase& c, std::ostream* out) {
    *out << c.fault;
}

}  // namespace kivorova::testing
