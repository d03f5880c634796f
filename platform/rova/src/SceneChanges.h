#pragma once
// A count of the changes that can alter what the scene shows: a plug made dirty or dependents
// dirtied (every stored value, connection, time change and tick goes through one of these), a node
// made, deleted or renamed, a node put under another parent, a connection removed, and mesh data
// changed in place. Consumers that derive something from the whole scene (the scene-level ray
// structure) remember the count they saw and know in O(1) that nothing changed since. The count
// only grows, across hosts made afresh too; any thread may bump it (mesh data is made on data
// threads as well).
#include <atomic>
#include <cstdint>

namespace rova::detail {

inline std::atomic<std::uint64_t>& sceneChangeCounter() {
    static std::atomic<std::uint64_t> counter{1};
    return counter;
}
inline void noteSceneChange() {
    sceneChangeCounter().fetch_add(1, std::memory_order_relaxed);
}
inline std::uint64_t sceneChanges() {
    return sceneChangeCounter().load(std::memory_order_relaxed);
}

}  // namespace rova::detail
