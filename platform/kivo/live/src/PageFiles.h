#pragma once
// Which file of the page's folder an HTTP request target names.
#include <filesystem>
#include <string>
#include <string_view>

namespace KivoLive::detail {

struct PageFile {
    enum class Kind { File, NotFound, Refused };
    Kind kind = Kind::NotFound;
    std::filesystem::path path;  // File: the canonical path inside the root
    std::string reason;          // Refused: why
};

// `root` must be canonical. The target's path ("/", "/a/b.js?x=1") is percent-decoded; a NUL, a
// backslash, a ".." segment or a target that is not a path is refused, and so is a file that only
// symbolic links place inside the folder. "/" and folders mean their index.html.
PageFile resolvePageFile(const std::filesystem::path& root, std::string_view target);

// The Content-Type of a file, by its extension.
std::string_view contentType(const std::filesystem::path& file);

}  // namespace KivoLive::detail
