#pragma once
// Bench figures (each against a baseline measured in the same process) written as JSON.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace kivorova::bench {

// One measured figure beside its baseline from the same run.
struct Figure {
    std::string name, unit;
    double value = 0.0;
    std::string baselineName;
    double baseline = 0.0;
    double target = -1.0;  // < 0: none
};

inline std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

inline std::string jsonNumber(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.6g", value);
    return buffer;
}

// Writes the figures as JSON: name, unit, value, baseline and their ratio, target; false when
// the file cannot be written.
inline bool writeFigures(const std::string& path, const std::string& bench,
                         const std::vector<Figure>& figures) {
    std::ofstream out(path);
    if (!out)
        return false;
    out << "{\n  \"bench\": " << jsonString(bench) << ",\n  \"figures\": [\n";
    for (std::size_t k = 0; k < figures.size(); ++k) {
        const Figure& f = figures[k];
        out << "    {\"name\": " << jsonString(f.name) << ", \"unit\": " << jsonString(f.unit)
            << ", \"value\": " << jsonNumber(f.value)
            << ", \"baseline_name\": " << jsonString(f.baselineName)
            << ", \"baseline\": " << jsonNumber(f.baseline)
            << ", \"ratio\": " << jsonNumber(f.baseline != 0.0 ? f.value / f.baseline : 0.0);
        if (f.target >= 0.0)
            out << ", \"target\": " << jsonNumber(f.target)
                << ", \"meets_target\": " << (f.value <= f.target ? "true" : "false");
        out << "}" << (k + 1 < figures.size() ? "," : "") << "\n";
    }
    out << "  ]\n}\n";
    return static_cast<bool>(out);
}

}  // namespace kivorova::bench
