// import PATH [-name N] [-parent P]
#include <filesystem>

#include "../Interpreter.h"
#include "../SceneObjects.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    const std::filesystem::path file = context.in().args().front();
    const auto geometry = host::scene::readObj(file);
    if (!geometry.ok())
        return geometry.status;
    std::string base = file.stem().string();
    if (!host::Host::isValidNodeName(base + "1"))
        base = "mesh";
    return createObject(context, base, host::scene::ShapeType::kMesh, &geometry.value);
}

const CommandRegistration registration{{
    .name = "import",
    .synopsis = "PATH [-name N] [-parent P]",
    .summary = "Read an OBJ file's vertices and polygons (all its objects and groups as one mesh) "
               "into a new mesh object (default name: the file's name with a number); print N. "
               "A malformed file fails with FILE:LINE and what is wrong, and makes nothing; so "
               "does anything but a regular UTF-8 text file of at most 1 GiB with vertices in it.",
    .flags = {kNameFlag, kParentFlag},
    .minArgs = 1,
    .maxArgs = 1,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
