#pragma once
// What a page watching a live performance is sent about the scene: the meshes, when they appear,
// change shape or go, and every transform's world matrix at each tick, as JSON text messages.
//
//   {"type":"scene","full":B,"objects":[{"name":T,"shape":S,"positions":[x,y,z,...],
//    "indices":[i,j,k,...]}...],"removed":[S...]}
//   {"type":"poses","time":SECONDS,"objects":[{"name":T,"matrix":[16 numbers]}...]}
//
// A scene message lists the meshes that are new or changed (all of them when `full`), each under
// its transform's name, with its points in object space and its polygons as triangles; `removed`
// names the shapes that are gone. A matrix is the world matrix's 16 numbers row by row in the
// host's row-vector convention, which is the column-major order of the same transform for
// column vectors. A matrix or positions that are not finite numbers are sent as null.
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "rovahost/Host.h"

namespace rova::live {

class PoseStream {
  public:
    using Sink = std::function<void(std::string)>;
    // `audience`, when given, answers a number that changes whenever a new page starts
    // listening: it knows nothing yet, so the next send describes the whole scene again.
    explicit PoseStream(Sink sink, std::function<std::uint64_t()> audience = {})
        : m_sink(std::move(sink)), m_audience(std::move(audience)) {}

    // After a tick: a scene message when meshes came, went or changed shape since the last call
    // (the whole scene on the first call and after restart()), then a poses message.
    host::Status send(host::Host& host);
    // The next send describes the whole scene again.
    void restart() { m_shown.clear(), m_full = true; }

  private:
    struct Shown {
        std::string transform;
        std::uint64_t revision = 0;
    };
    Sink m_sink;
    std::function<std::uint64_t()> m_audience;
    std::uint64_t m_listener = 0;
    std::map<std::string, Shown> m_shown;  // by shape name
    bool m_full = true;
};

}  // namespace rova::live
