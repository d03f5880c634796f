// Where the host looks for plug-ins and host-side scripts.
#include <algorithm>
#include <cmath>
#include <iostream>

#include <cstdlib>

#include "HostImpl.h"
#include "HostText.h"
#include "rova/RGlobal.h"

namespace rova::host {

namespace {
// The variable's folders, then the installed layout beside the program, then the build's own.
std::vector<std::filesystem::path> searchPathFrom(const char* variable, const char* leaf,
                                                  const char* configured) {
    std::vector<std::filesystem::path> paths;
    if (const char* env = std::getenv(variable)) {
        std::string text = env;
        std::size_t start = 0;
        while (start <= text.size()) {
            const auto colon = text.find(':', start);
            const auto piece =
                text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
            if (!piece.empty())
                paths.emplace_back(piece);
            if (colon == std::string::npos)
                break;
            start = colon + 1;
        }
    }
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        paths.push_back((exe.parent_path().parent_path() / leaf).lexically_normal());
    if (configured && *configured) {
        const std::filesystem::path built(configured);
        if (std::find(paths.begin(), paths.end(), built) == paths.end())
            paths.push_back(built);
    }
    return paths;
}
}  // namespace

#ifndef ROVA_DEFAULT_PLUGIN_DIR
#define ROVA_DEFAULT_PLUGIN_DIR ""
#endif
#ifndef ROVA_DEFAULT_SCRIPT_DIR
#define ROVA_DEFAULT_SCRIPT_DIR ""
#endif

std::vector<std::filesystem::path> defaultPluginPath() {
    return searchPathFrom("ROVA_PLUGIN_PATH", "plug-ins", ROVA_DEFAULT_PLUGIN_DIR);
}

std::vector<std::filesystem::path> defaultScriptPath() {
    return searchPathFrom("ROVA_SCRIPT_PATH", "scripts", ROVA_DEFAULT_SCRIPT_DIR);
}

// ---------------------------------------------------------------- paths
std::vector<std::filesystem::path>& Host::pluginPath() {
    return m_impl->pluginPath;
}
std::vector<std::filesystem::path>& Host::scriptPath() {
    return m_impl->scriptPath;
}

std::optional<std::filesystem::path> Host::findScript(const std::string& file) const {
    std::error_code ec;
    if (file.find('/') != std::string::npos) {
        if (std::filesystem::is_regular_file(file, ec))
            return std::filesystem::path(file);
        return std::nullopt;
    }
    for (const auto& dir : m_impl->scriptPath)
        if (std::filesystem::is_regular_file(dir / file, ec))
            return dir / file;
    return std::nullopt;
}

}  // namespace rova::host
