#pragma once
#include "rova/RObject.h"
#include "rova/RPxNode.h"
#include "rova/RStatus.h"
#include "rova/RString.h"
#include "rova/RTypeId.h"

class RPxCommand;

using RCreatorFunction = void* (*)();
using RInitializeFunction = RStatus (*)();
using RCreateSyntaxFunction = void* (*)();

// Registration of a plug-in's types, commands and UI procedures with the host.
class ROVA_API RFnPlugin {
  public:
    RFnPlugin(const RObject& plugin, const char* vendor = "Unknown",
              const char* version = "Unknown", const char* requiredApiVersion = "Any",
              RStatus* status = nullptr);

    RString vendor() const;
    RString version() const;
    RString name() const;

    // kind is one of RPxNode::Type. The initializer runs at once; a failing initializer
    // fails the registration and removes the type again.
    RStatus registerNode(const RString& typeName, const RTypeId& typeId, RCreatorFunction creator,
                         RInitializeFunction initialize, RPxNode::Type kind = RPxNode::kDependNode,
                         const RString* classification = nullptr);
    RStatus deregisterNode(const RTypeId& typeId);
    RStatus registerCommand(const RString& commandName, RCreatorFunction creator,
                            RCreateSyntaxFunction createSyntax = nullptr);
    RStatus deregisterCommand(const RString& commandName);
    // Names host-side script procedures: creation runs right after initializePlugin, deletion
    // right before uninitializePlugin. Batch procedures run instead in batch mode.
    RStatus registerUI(const RString& creationProc, const RString& deletionProc,
                       const RString& creationBatchProc = "",
                       const RString& deletionBatchProc = "");

  private:
    RObject m_plugin;
};
