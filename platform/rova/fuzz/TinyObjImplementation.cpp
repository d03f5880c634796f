// The OBJ library's implementation, compiled here so that the fuzzer instruments it too.
#define TINYOBJLOADER_IMPLEMENTATION
#include <tiny_obj_loader.h>
