#pragma once
// Finds lines in the project's own sources, so that tests of messages that quote a source line
// follow the code instead of hard-coding numbers.
#include <filesystem>
#include <string>

namespace kivorova::testing {

// 1-based number of the first line containing `needle` that comes after the first line
// containing `anchor` (an empty anchor starts at the top). Throws when either is missing.
unsigned int lineOf(const std::filesystem::path& file, const std::string& needle,
                    const std::string& anchor = "");

}  // namespace kivorova::testing
