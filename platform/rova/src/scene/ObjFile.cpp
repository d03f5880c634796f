// OBJ files: polygons read through the OBJ library, after a pass of our own that names the file and
// line of anything malformed and reads the vertices exactly; written directly (the library only
// reads), whole or not at all.
#include <tiny_obj_loader.h>

#include <array>
#include <fstream>
#include <optional>
#include <sstream>

#include "rovahost/NumberText.h"
#include "rovahost/ReplaceFile.h"
#include "rovahost/Scene.h"

namespace rova::host::scene {

namespace {

// The vertex of one face corner ("7", "7/2", "7//3", "-1/2/3"), 0-based, given how many
// vertices came before it; an error text when it is not one.
std::optional<int> cornerVertex(const std::string& word, std::int64_t vertices,
                                std::string& error) {
    const std::string index = word.substr(0, word.find('/'));
    const auto parsed = parseInteger(index, -2147483647LL, 2147483647LL);
    if (!parsed || parsed.value == 0) {
        error = "'" + word + "' is not a vertex index (1 for the first vertex, -1 for the last)";
        return std::nullopt;
    }
    const std::int64_t at = parsed.value > 0 ? parsed.value - 1 : vertices + parsed.value;
    if (at < 0 || at >= vertices) {
        error = "vertex " + index + " does not exist (" + std::to_string(vertices) +
                " vertices so far)";
        return std::nullopt;
    }
    return static_cast<int>(at);
}

// Checks every line the geometry depends on, and reads the vertices exactly (the library's own
// number reading can be off by the last digit, and what `export` writes must read back the same).
Status checkObj(const std::filesystem::path& file, std::istream& in,
                std::vector<std::array<double, 3>>& points) {
    std::int64_t vertices = 0;
    std::string line;
    for (long number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream words(line);
        std::string key;
        if (!(words >> key) || key[0] == '#')
            continue;
        const auto fail = [&](const std::string& what) {
            return Status::failure(file.string() + ":" + std::to_string(number) + ": " + what);
        };
        std::vector<std::string> rest;
        for (std::string word; words >> word;) rest.push_back(word);
        if (key == "v") {
            if (rest.size() < 3 || rest.size() > 7)
                return fail("a vertex needs 3 coordinates ('v X Y Z'), not " +
                            std::to_string(rest.size()));
            std::array<double, 3> point{};
            for (std::size_t k = 0; k < 3; ++k) {
                const auto coordinate = parseFiniteNumber(rest[k]);
                if (!coordinate)
                    return fail("vertex coordinate: " +
                                describeNumberError(coordinate.error, rest[k]));
                point[k] = coordinate.value;
            }
            points.push_back(point);
            ++vertices;
        } else if (key == "f") {
            if (rest.size() < 3)
                return fail("a face needs at least 3 vertices, not " + std::to_string(rest.size()));
            for (const auto& word : rest) {
                std::string error;
                if (!cornerVertex(word, vertices, error))
                    return fail(error);
            }
        }
    }
    return {};
}

}  // namespace

Result<MeshGeometry> readObj(const std::filesystem::path& file) {
    Result<MeshGeometry> out;
    std::ifstream in(file);
    if (!in || std::filesystem::is_directory(file)) {
        out.status = Status::failure(file.string() + ": cannot be read");
        return out;
    }
    if (out.status = checkObj(file, in, out.value.points); !out.ok())
        return out;
    tinyobj::ObjReaderConfig config;
    config.triangulate = false;
    config.vertex_color = false;
    tinyobj::ObjReader reader;
    if (!reader.ParseFromFile(file.string(), config)) {
        out.status = Status::failure(file.string() + ": " + reader.Error());
        return out;
    }
    if (reader.GetAttrib().vertices.size() != 3 * out.value.points.size()) {
        out.status =
            Status::failure(file.string() + ": the OBJ reader found " +
                            std::to_string(reader.GetAttrib().vertices.size() / 3) +
                            " vertices where there are " + std::to_string(out.value.points.size()));
        return out;
    }
    for (const auto& shape : reader.GetShapes()) {
        std::size_t at = 0;
        for (const auto count : shape.mesh.num_face_vertices) {
            std::vector<int> face;
            for (std::size_t k = 0; k < count; ++k)
                face.push_back(shape.mesh.indices[at + k].vertex_index);
            at += count;
            out.value.faces.push_back(std::move(face));
        }
    }
    return out;
}

Status writeObj(const std::filesystem::path& file, const MeshGeometry& geometry,
                const std::string& objectName) {
    std::ostringstream out;
    out << "# written by rova\no " << objectName << "\n";
    for (const auto& p : geometry.points)
        out << "v " << formatDouble(p[0]) << ' ' << formatDouble(p[1]) << ' ' << formatDouble(p[2])
            << '\n';
    for (const auto& face : geometry.faces) {
        out << 'f';
        for (const int v : face) out << ' ' << v + 1;
        out << '\n';
    }
    return replaceFile(file, out.str());
}

}  // namespace rova::host::scene
