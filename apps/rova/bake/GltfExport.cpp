#include "GltfExport.h"

#include <tiny_gltf.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

namespace rova::bake {
namespace {

constexpr int kArrayBuffer = TINYGLTF_TARGET_ARRAY_BUFFER;
constexpr int kElementArrayBuffer = TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER;

// Builds the model's single buffer and the views and accessors into it.
class ModelBuilder {
  public:
    explicit ModelBuilder(tinygltf::Model& model) : m_model(model) {
        m_model.buffers.emplace_back();
    }

    // Floats as an accessor of `type` (VEC3, VEC4, SCALAR); min and max when asked.
    int floats(const std::vector<float>& values, int type, int components, int target,
               bool bounds) {
        const int view = addView(values.data(), values.size() * sizeof(float), target);
        tinygltf::Accessor accessor;
        accessor.bufferView = view;
        accessor.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
        accessor.count = values.size() / static_cast<std::size_t>(components);
        accessor.type = type;
        if (bounds) {
            accessor.minValues.assign(static_cast<std::size_t>(components),
                                      std::numeric_limits<double>::infinity());
            accessor.maxValues.assign(static_cast<std::size_t>(components),
                                      -std::numeric_limits<double>::infinity());
            for (std::size_t i = 0; i < values.size(); ++i) {
                const std::size_t c = i % static_cast<std::size_t>(components);
                accessor.minValues[c] = std::min(accessor.minValues[c], double{values[i]});
                accessor.maxValues[c] = std::max(accessor.maxValues[c], double{values[i]});
            }
        }
        m_model.accessors.push_back(accessor);
        return static_cast<int>(m_model.accessors.size()) - 1;
    }

    int indices(const std::vector<std::uint32_t>& values) {
        const int view =
            addView(values.data(), values.size() * sizeof(std::uint32_t), kElementArrayBuffer);
        tinygltf::Accessor accessor;
        accessor.bufferView = view;
        accessor.componentType = TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
        accessor.count = values.size();
        accessor.type = TINYGLTF_TYPE_SCALAR;
        m_model.accessors.push_back(accessor);
        return static_cast<int>(m_model.accessors.size()) - 1;
    }

  private:
    int addView(const void* data, std::size_t bytes, int target) {
        auto& buffer = m_model.buffers.front().data;
        tinygltf::BufferView view;
        view.buffer = 0;
        view.byteOffset = buffer.size();
        view.byteLength = bytes;
        view.target = target;
        const auto* first = static_cast<const unsigned char*>(data);
        buffer.insert(buffer.end(), first, first + bytes);
        buffer.resize((buffer.size() + 3) / 4 * 4, 0);  // every view starts 4-byte aligned
        m_model.bufferViews.push_back(view);
        return static_cast<int>(m_model.bufferViews.size()) - 1;
    }

    tinygltf::Model& m_model;
};

std::vector<float> flatten(const std::vector<Vec3>& points) {
    std::vector<float> values;
    values.reserve(points.size() * 3);
    for (const Vec3& p : points)
        for (double c : p) values.push_back(static_cast<float>(c));
    return values;
}

// Polygons as triangle fans (every polygon of the host is convex when it is planar).
std::vector<std::uint32_t> triangles(const std::vector<std::vector<int>>& faces) {
    std::vector<std::uint32_t> indices;
    for (const auto& face : faces)
        for (std::size_t k = 2; k < face.size(); ++k)
            for (int vertex : {face[0], face[k - 1], face[k]})
                indices.push_back(static_cast<std::uint32_t>(vertex));
    return indices;
}

int addMesh(ModelBuilder& builder, tinygltf::Model& model, const ObjectTrack& track) {
    const auto indices = triangles(track.baseShape.faces);
    if (track.baseShape.points.empty() || indices.empty())
        return -1;
    tinygltf::Primitive primitive;
    primitive.mode = TINYGLTF_MODE_TRIANGLES;
    const std::vector<float> base = flatten(track.baseShape.points);
    primitive.attributes["POSITION"] =
        builder.floats(base, TINYGLTF_TYPE_VEC3, 3, kArrayBuffer, true);
    primitive.indices = builder.indices(indices);
    for (const auto& shape : track.shapes) {
        std::vector<float> delta = flatten(shape);
        for (std::size_t i = 0; i < delta.size(); ++i) delta[i] -= base[i];
        primitive.targets.push_back(
            {{"POSITION", builder.floats(delta, TINYGLTF_TYPE_VEC3, 3, kArrayBuffer, true)}});
    }
    tinygltf::Mesh mesh;
    mesh.name = track.meshName;
    mesh.primitives.push_back(primitive);
    mesh.weights.assign(track.shapes.size(), 0.0);
    model.meshes.push_back(mesh);
    return static_cast<int>(model.meshes.size()) - 1;
}

void addChannel(tinygltf::Animation& animation, int node, const char* path, int input, int output,
                const char* interpolation) {
    tinygltf::AnimationSampler sampler;
    sampler.input = input;
    sampler.output = output;
    sampler.interpolation = interpolation;
    animation.samplers.push_back(sampler);
    tinygltf::AnimationChannel channel;
    channel.sampler = static_cast<int>(animation.samplers.size()) - 1;
    channel.target_node = node;
    channel.target_path = path;
    animation.channels.push_back(channel);
}

tinygltf::Model buildModel(const BakeTake& take) {
    tinygltf::Model model;
    model.asset.version = "2.0";
    model.asset.generator = "rova bake";
    ModelBuilder builder(model);
    tinygltf::Scene scene;
    scene.name = "bake";
    tinygltf::Animation animation;
    animation.name = "bake";

    std::vector<float> times;
    for (std::size_t i = 0; i < take.frames.size(); ++i)
        times.push_back(static_cast<float>(take.animationTime(i)));
    const int input = take.frames.empty() || take.objects.empty()
                          ? -1
                          : builder.floats(times, TINYGLTF_TYPE_SCALAR, 1, 0, true);

    for (const ObjectTrack& track : take.objects) {
        tinygltf::Node node;
        node.name = track.name;
        node.mesh = addMesh(builder, model, track);
        if (!track.poses.empty()) {
            const Pose& first = track.poses.front();
            node.translation.assign(first.translation.begin(), first.translation.end());
            node.rotation.assign(first.rotation.begin(), first.rotation.end());
            node.scale.assign(first.scale.begin(), first.scale.end());
        }
        model.nodes.push_back(node);
        const int index = static_cast<int>(model.nodes.size()) - 1;
        scene.nodes.push_back(index);
        if (input < 0)
            continue;

        std::vector<float> translation, rotation, scale;
        Quat previous = track.poses.front().rotation;
        for (const Pose& pose : track.poses) {
            for (double c : pose.translation) translation.push_back(static_cast<float>(c));
            for (double c : pose.scale) scale.push_back(static_cast<float>(c));
            // q and -q are one rotation; the one nearer the previous key interpolates the short
            // way.
            Quat q = pose.rotation;
            if (q[0] * previous[0] + q[1] * previous[1] + q[2] * previous[2] + q[3] * previous[3] <
                0.0)
                for (double& c : q) c = -c;
            previous = q;
            for (double c : q) rotation.push_back(static_cast<float>(c));
        }
        addChannel(animation, index, "translation", input,
                   builder.floats(translation, TINYGLTF_TYPE_VEC3, 3, 0, false), "LINEAR");
        addChannel(animation, index, "rotation", input,
                   builder.floats(rotation, TINYGLTF_TYPE_VEC4, 4, 0, false), "LINEAR");
        addChannel(animation, index, "scale", input,
                   builder.floats(scale, TINYGLTF_TYPE_VEC3, 3, 0, false), "LINEAR");
        if (node.mesh >= 0 && !track.shapes.empty()) {
            std::vector<float> weights;
            for (int shown : track.shapeOfFrame)
                for (std::size_t t = 0; t < track.shapes.size(); ++t)
                    weights.push_back(static_cast<int>(t) == shown ? 1.0F : 0.0F);
            addChannel(animation, index, "weights", input,
                       builder.floats(weights, TINYGLTF_TYPE_SCALAR, 1, 0, false), "STEP");
        }
    }
    model.scenes.push_back(scene);
    model.defaultScene = 0;
    if (!animation.channels.empty())
        model.animations.push_back(animation);
    if (model.buffers.front().data.empty())
        model.buffers.clear();
    return model;
}

}  // namespace

host::Status writeWholeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return host::Status::failure("cannot write '" + path.string() +
                                     "': " + std::strerror(errno));
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        return host::Status::failure("cannot write '" + path.string() +
                                     "': " + std::strerror(errno));
    return {};
}

host::Status writeGltf(const BakeTake& take, const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool binary = extension == ".glb";
    if (!binary && extension != ".gltf")
        return host::Status::failure("cannot tell the format of '" + path.string() +
                                     "': name it .glb (binary) or .gltf (text with a .bin beside)");
    tinygltf::Model model = buildModel(take);
    tinygltf::TinyGLTF writer;
    if (binary) {
        std::ostringstream bytes;
        if (!writer.WriteGltfSceneToStream(&model, bytes, false, true))
            return host::Status::failure("cannot encode '" + path.string() + "'");
        return writeWholeFile(path, bytes.str());
    }
    // Text: the buffer goes into a file of its own beside the document, named after it.
    std::ostringstream text;
    if (!writer.WriteGltfSceneToStream(&model, text, true, false))
        return host::Status::failure("cannot encode '" + path.string() + "'");
    nlohmann::json document = nlohmann::json::parse(text.str());
    if (!model.buffers.empty()) {
        const auto& data = model.buffers.front().data;
        std::filesystem::path bin = path;
        bin.replace_extension(".bin");
        if (auto status = writeWholeFile(bin, std::string(data.begin(), data.end())); !status)
            return status;
        document["buffers"][0]["uri"] = bin.filename().string();
    }
    return writeWholeFile(path, document.dump(2) + "\n");
}

}  // namespace rova::bake
