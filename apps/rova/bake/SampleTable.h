#pragma once
// A bake as a table: one row per baked frame, one column per sampled number (for plots and
// spreadsheets). Objects give their world translation (in the bake's unit), rotation (x, y, z, w)
// and scale.
#include <filesystem>

#include "BakeTake.h"
#include "rovahost/Host.h"
#include "rovahost/ReplaceFile.h"

namespace rova::bake {

// CSV (a header line, then a line per frame) or JSON ({"fps", "frames", "seconds", "time" (the glTF
// key times), "unit" ("metre", or "scene unit" for a raw bake), "metresPerSceneUnit" (in metres
// only), "columns": {name: [value per frame]}}), following the file's extension. Numbers are the
// shortest text that reads back to the same double; string plugs are text. Written into `file`
// (flushed, not yet put in place).
host::Status writeTable(const BakeTake& take, host::FileReplacement& file);

}  // namespace rova::bake
