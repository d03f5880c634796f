#pragma once
// The one way plug-in code reaches the host: every unit includes this header, never the host's
// own headers one by one, so the host surface the plug-in depends on stays in one place.
#include <rova/Rova.h>
