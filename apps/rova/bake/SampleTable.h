#pragma once
// A bake as a table: one row per baked frame, one column per sampled number (for plots and
// spreadsheets). Objects give their world translation, rotation (x, y, z, w) and scale.
#include <filesystem>

#include "BakeTake.h"
#include "rovahost/Host.h"

namespace rova::bake {

// CSV (a header line, then a line per frame) or JSON ({"fps", "frames", "seconds", "columns":
// {name: [value per frame]}}), following the file's extension. Numbers are the shortest text that
// reads back to the same double; string plugs are text.
host::Status writeTable(const BakeTake& take, const std::filesystem::path& path);

}  // namespace rova::bake
