// Feeds arbitrary bytes to the OBJ reader. What it accepts is a mesh whose faces all name existing
// vertices; written out as OBJ it reads back to the same mesh. What it refuses names the file.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "rovahost/Scene.h"

using rova::host::scene::MeshGeometry;

namespace {
bool sameMesh(const MeshGeometry& a, const MeshGeometry& b) {
    return a.points == b.points && a.faces == b.faces;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto read = rova::host::scene::parseObj(text, "fuzz");
    if (!read.ok()) {
        if (read.status.message.rfind("fuzz:", 0) != 0)
            std::abort();  // every refusal names the file
        return 0;
    }
    const MeshGeometry& mesh = read.value;
    if (mesh.points.empty())
        std::abort();  // a file without vertices is refused
    for (const auto& p : mesh.points)
        for (const double c : p)
            if (!std::isfinite(c))
                std::abort();
    for (const auto& face : mesh.faces) {
        if (face.size() < 3)
            std::abort();
        for (const int v : face)
            if (v < 0 || static_cast<std::size_t>(v) >= mesh.points.size())
                std::abort();
    }
    const auto again =
        rova::host::scene::parseObj(rova::host::scene::formatObj(mesh, "m"), "again");
    if (!again.ok() || !sameMesh(again.value, mesh))
        std::abort();
    return 0;
}
