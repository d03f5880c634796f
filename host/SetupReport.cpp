#include "host/SetupReport.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace kivo_rova {
namespace {

std::string_view unitName(std::string_view path) {
    if (const auto slash = path.find_last_of("/\\"); slash != std::string_view::npos) {
        path.remove_prefix(slash + 1);
    }
    if (const auto dot = path.find('.'); dot != std::string_view::npos) {
        path = path.substr(0, dot);
    }
    return path;
}

}  // namespace

void reportConfigureFailure(const RStatus& status, const char* file, unsigned int line) {
    const std::string_view unit = unitName(file);
    std::fprintf(stderr, "\nAPI error detected in %.*s at line %u\n", static_cast<int>(unit.size()),
                 unit.data(), line);
    std::fflush(stderr);
    status.perror("");
}

void reportAndContinue(const RStatus& status, const char* message) {
    if (status.error()) {
        status.perror(message);
    }
}

bool succeededOrReport(const RStatus& status, const char* message) {
    if (status.error()) {
        status.perror(message);
        return false;
    }
    return true;
}

bool addAttributeOrReport(const RObject& attribute, const char* longName) {
    return succeededOrReport(RPxNode::addAttribute(attribute),
                             (std::string("addAttribute: ") + longName).c_str());
}

bool attributeAffectsOrReport(const RObject& source, const char* sourceName,
                              const RObject& destination, const char* destinationName) {
    const std::string message =
        std::string("attributeAffects:") + sourceName + "->" + destinationName;
    return succeededOrReport(RPxNode::attributeAffects(source, destination), message.c_str());
}

}  // namespace kivo_rova
