#include "PageFiles.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

namespace KivoLive::detail {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

PageFile refused(std::string reason) {
    return {PageFile::Kind::Refused, {}, std::move(reason)};
}

// Whether `path` (canonical) lies inside `root` (canonical).
bool inside(const std::filesystem::path& root, const std::filesystem::path& path) {
    const auto [r, p] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return r == root.end();
}

}  // namespace

PageFile resolvePageFile(const std::filesystem::path& root, std::string_view target) {
    const std::string_view path = target.substr(0, target.find_first_of("?#"));
    if (path.empty() || path.front() != '/')
        return refused("not a path");
    const auto decoded = percentDecoded(path);
    if (!decoded)
        return refused("a malformed %-escape");
    if (decoded->find('\0') != std::string::npos)
        return refused("a NUL character");
    if (decoded->find('\\') != std::string::npos)
        return refused("a backslash");
    std::filesystem::path relative;
    std::size_t start = 1;
    while (start <= decoded->size()) {
        const std::size_t end = std::min(decoded->find('/', start), decoded->size());
        const std::string_view segment = std::string_view(*decoded).substr(start, end - start);
        if (segment == "..")
            return refused("a '..' segment");
        if (!segment.empty() && segment != ".")
            relative /= std::string(segment);
        start = end + 1;
    }
    std::error_code ec;
    std::filesystem::path file = root / relative;
    if (std::filesystem::is_directory(file, ec))
        file /= "index.html";
    // Symbolic links are followed, so what they lead to must still be inside the folder.
    const std::filesystem::path real = std::filesystem::weakly_canonical(file, ec);
    if (ec)
        return {PageFile::Kind::NotFound, {}, {}};
    if (!inside(root, real))
        return refused("leads outside the page's folder");
    if (!std::filesystem::is_regular_file(real, ec))
        return {PageFile::Kind::NotFound, {}, {}};
    return {PageFile::Kind::File, real, {}};
}

std::string_view contentType(const std::filesystem::path& file) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 17> kTypes{{
        {".html", "text/html; charset=utf-8"},
        {".htm", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json"},
        {".map", "application/json"},
        {".wasm", "application/wasm"},
        {".data", "application/octet-stream"},
        {".tflite", "application/octet-stream"},
        {".binarypb", "application/octet-stream"},
        {".png", "image/png"},
        {".jpg", "image/jpeg"},
        {".svg", "image/svg+xml"},
        {".ico", "image/x-icon"},
        {".webm", "video/webm"},
        {".mp4", "video/mp4"},
    }};
    const std::string ext = file.extension().string();
    for (const auto& [suffix, type] : kTypes) {
        if (ext == suffix)
            return type;
    }
    return "application/octet-stream";
}

}  // namespace KivoLive::detail
