#pragma once
// A bake as glTF 2.0: binary (.glb) or text with its buffer beside it (.gltf + .bin).
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "BakeSampler.h"
#include "BakeTake.h"
#include "rovahost/Host.h"

namespace rova::bake {

// The most bytes a bake's glTF may take: a .glb's lengths are 32-bit, and a .gltf keeps to the
// same so that every reader can address its buffer.
inline constexpr std::uint64_t kMaxGltfBytes = 0xFFFFFFFFULL;

// One node per baked object, named as in the scene, at its world pose (in the take's unit, +Y up,
// as the host's scene); one animation "bake" with a translation, rotation and scale channel per
// node, keyed at every baked frame (linear, at the take's key times). A baked hand is a skin: its
// joints as a node hierarchy under the scene, animated in the same animation, and a mesh bound to
// them (HandRig). An
// object's mesh goes with its node; the shapes it took on during the bake become morph targets,
// switched on one at a time by a stepped weights channel. The file's format follows its
// extension; the same take always gives the same bytes.
//
// Shapes go to the buffer's file as they are sampled, so memory does not grow with them. Nothing
// at the path changes until putInPlace: a failed or refused bake leaves the previous file.
class GltfWriter final : public ShapeSink {
  public:
    // Opens the buffer beside `path` and refuses, before the first frame, `frames` frames of
    // `objects` objects and `hands` hands whose keys alone would not fit; status() tells.
    GltfWriter(const std::filesystem::path& path, long long frames, std::size_t objects,
               std::size_t hands = 0);
    ~GltfWriter() override;
    GltfWriter(const GltfWriter&) = delete;
    GltfWriter& operator=(const GltfWriter&) = delete;

    const host::Status& status() const;
    host::Status baseShape(std::size_t object, const MeshShape& shape) override;
    host::Status laterShape(std::size_t object, const std::vector<Vec3>& points) override;
    // Writes the rest of the buffer and the document beside the path, flushed to disk.
    host::Status finish(const BakeTake& take);
    // Renames what finish wrote over the path (a .gltf's .bin first).
    host::Status putInPlace();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// A buffer file's name as a URI reference relative to the document: every byte but the
// unreserved ones percent-encoded, so that a space or '#' in the name reaches every reader.
std::string uriOfFileName(const std::string& name);

}  // namespace rova::bake
