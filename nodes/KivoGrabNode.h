#pragma once
#include "host/HostApi.h"

namespace kivo_rova {

// Lets two tracked fingertips pick up a polygon object, carry and turn it, and put it down again.
class KivoGrabNode : public RPxNode {
  public:
    static const RTypeId id;

    KivoGrabNode() = default;
    ~KivoGrabNode() override;

    static void* createInstance();
    static RStatus initializeAttributes();
};

}  // namespace kivo_rova
