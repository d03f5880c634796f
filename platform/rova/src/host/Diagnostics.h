#pragma once
// How the runtime reports what it cannot hand back as a status.
#include <string>

namespace rova::detail {

// Writes "error: LINE" on standard error.
void writeError(const std::string& line);
// Appends "[index]" to `text`.
void appendIndex(std::string& text, int index);

}  // namespace rova::detail
