#pragma once
// The one guard at every place where a plug-in's or a script's code returns into the host: plug-in
// entry points, node creators and computes, commands, data threads, listener callbacks, queued
// idle commands. Nothing thrown there may pass into the host's own code or end a thread.
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace rova::host {

// Runs work; any exception becomes a message naming the boundary, "WHAT threw: REASON" or
// "WHAT threw an unknown exception", which is returned. Nothing is returned when work finished.
template <class Work>
std::optional<std::string> guardBoundary(std::string_view what, Work&& work) {
    try {
        std::forward<Work>(work)();
        return std::nullopt;
    } catch (const std::exception& e) {
        return std::string(what) + " threw: " + e.what();
    } catch (...) {
        return std::string(what) + " threw an unknown exception";
    }
}

}  // namespace rova::host
