#pragma once
#include <cstddef>

#include "rova/RovaExport.h"

class RPxThreadedDeviceNode;

// A view of one slot of a threaded device node's memory pool. The buffer does not own the
// slot: the node's pool does, between acquireDataStorage/popThreadData and
// releaseDataStorage/pushThreadData.
class ROVA_API RCharBuffer {
  public:
    RCharBuffer() noexcept = default;
    char* ptr() const noexcept { return m_data; }
    std::size_t size() const noexcept { return m_size; }

  private:
    friend class RPxThreadedDeviceNode;
    char* m_data = nullptr;
    std::size_t m_size = 0;
    int m_slot = -1;
};
