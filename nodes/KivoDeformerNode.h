#pragma once
#include "host/HostApi.h"

namespace kivo_rova {

// Pushes dents into a mesh (or pulls it out) around up to ten tracked points.
class KivoDeformerNode : public RPxNode {
  public:
    static const RTypeId id;

    KivoDeformerNode() = default;
    ~KivoDeformerNode() override;

    static void* createInstance();
    static RStatus initializeAttributes();
};

}  // namespace kivo_rova
