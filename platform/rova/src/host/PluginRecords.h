#pragma once
// Loaded plug-ins and the commands they register.
#include <string>

#include "model/Objects.h"
#include "rova/RFnPlugin.h"
#include "rova/RPxCommand.h"
#include "rovahost/Host.h"

namespace rova::detail {

// The API version this host implements; a plug-in that requires a later one is refused.
constexpr long kHostApiVersion = 201400;

struct PluginRecord : ObjectImpl {
    PluginRecord() : ObjectImpl(RObject::Kind::kPlugin) {}
    std::string name, path;
    void* library = nullptr;
    host::Host::PluginEntry initialize = nullptr;
    host::Host::PluginEntry uninitialize = nullptr;
    std::string vendor = "Unknown", version = "Unknown", requiredApi = "Any";
    std::string uiCreate, uiDelete, uiCreateBatch, uiDeleteBatch;
    bool initialized = false;
    bool loading = false;
};

struct CommandHolder {
    RPxCommand* command = nullptr;
    PluginRecord* plugin = nullptr;
    ~CommandHolder() { delete command; }
};

struct CommandDef {
    std::string name;
    RCreatorFunction creator = nullptr;
    RCreateSyntaxFunction syntax = nullptr;
    PluginRecord* plugin = nullptr;
};

}  // namespace rova::detail
