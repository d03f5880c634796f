#pragma once
// The one way plug-in code reaches the device SDK: every unit includes this header, never the
// SDK's headers one by one, so the device surface the plug-in depends on stays in one place.
#include <kivo/Kivo.h>
