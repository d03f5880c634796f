#pragma once
// Symbols of the host API library. Everything else in the library stays hidden.
#if defined(ROVA_BUILDING_HOST)
#define ROVA_API __attribute__((visibility("default")))
#else
#define ROVA_API __attribute__((visibility("default")))
#endif
