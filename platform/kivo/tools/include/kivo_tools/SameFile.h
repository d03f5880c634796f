#pragma once
// Whether an output a tool writes would replace one of the files it reads.
#include <filesystem>
#include <string>
#include <system_error>

namespace KivoTools {

// Whether two paths name one file: the same file when both exist (links and `..` included), else
// the same absolute path.
inline bool sameFile(const std::string& a, const std::string& b) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::exists(a, ec) && fs::exists(b, ec)) {
        return fs::equivalent(a, b, ec);
    }
    return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}

}  // namespace KivoTools
