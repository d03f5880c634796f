// transform [-name N] [-parent P]
#include "../Interpreter.h"
#include "../SceneObjects.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    return createObject(context, "transform", std::nullopt);
}

const CommandRegistration registration{{
    .name = "transform",
    .synopsis = "[-name N] [-parent P]",
    .summary = "Create an empty transform (translate, rotate, scale, inputMatrix; worldMatrix out) "
               "and print its name.",
    .flags = {kNameFlag, kParentFlag},
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
