#include "SourceLines.h"

#include <fstream>
#include <stdexcept>

namespace kivorova::testing {

unsigned int lineOf(const std::filesystem::path& file, const std::string& needle,
                    const std::string& anchor) {
    std::ifstream in(file);
    if (!in) {
        throw std::runtime_error("cannot read " + file.string());
    }
    bool anchorSeen = anchor.empty();
    unsigned int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (!anchorSeen) {
            anchorSeen = line.find(anchor) != std::string::npos;
        } else if (line.find(needle) != std::string::npos) {
            return number;
        }
    }
    throw std::runtime_error("no line with '" + needle + "' after '" + anchor + "' in " +
                             file.string());
}

}  // namespace kivorova::testing
