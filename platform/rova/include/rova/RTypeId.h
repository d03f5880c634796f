#pragma once
#include <cstdint>

#include "rova/RovaExport.h"

// Identifies a node type across sessions; plug-ins own their ids.
class ROVA_API RTypeId {
  public:
    constexpr RTypeId() noexcept = default;
    constexpr explicit RTypeId(std::uint32_t id) noexcept : m_id(id) {}
    constexpr std::uint32_t id() const noexcept { return m_id; }
    constexpr bool operator==(const RTypeId& other) const noexcept { return m_id == other.m_id; }

  private:
    std::uint32_t m_id = 0;
};
