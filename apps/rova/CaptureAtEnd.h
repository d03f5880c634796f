#pragma once
// However the program ends (the scripts ran out, Python's os._exit), a device capture still
// running is completed, and a failure to complete it is reported, as `device -stop` would.

namespace rova::app {

// Completes a running capture; false, with the error written to standard error, when it could not
// be completed (a write error on the way, a full disk). True when none was running.
bool completeCaptureAtEnd();

}  // namespace rova::app
