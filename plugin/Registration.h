#pragma once
#include "host/HostApi.h"

namespace kivo_rova {

// One row of the plug-in's load or unload table: a registration call with the host and the
// message its failing status is reported with.
struct Registration {
    using Perform = RStatus (*)(RFnPlugin& plugin, const Registration& row);

    const char* failureMessage = "";
    Perform action = nullptr;
    const char* typeName = "";
    const RTypeId* typeId = nullptr;
    RCreatorFunction creator = nullptr;
    RInitializeFunction initialize = nullptr;
    RPxNode::Type kind = RPxNode::kDependNode;
    const char* deletionProcedure = "";

    RStatus perform(RFnPlugin& plugin) const { return action(plugin, *this); }

    // registerNode of Node's type under typeName, with its createInstance and
    // initializeAttributes and no classification.
    template <class Node>
    static constexpr Registration node(const char* name, RPxNode::Type nodeKind,
                                       const char* message) {
        return {message,   &registerNode,         name,
                &Node::id, &Node::createInstance, &Node::initializeAttributes,
                nodeKind};
    }
    // deregisterNode of Node's type id.
    template <class Node>
    static constexpr Registration nodeRemoval(const char* message) {
        Registration row{message, &deregisterNode};
        row.typeId = &Node::id;
        return row;
    }
    // registerCommand with the command's createInstance and no syntax function.
    template <class Command>
    static constexpr Registration command(const char* name, const char* message) {
        Registration row{message, &registerCommand, name};
        row.creator = &Command::createInstance;
        return row;
    }
    static constexpr Registration commandRemoval(const char* name, const char* message) {
        return {message, &deregisterCommand, name};
    }
    // registerUI with the creation and deletion procedures and empty batch procedures.
    static constexpr Registration userInterface(const char* creation, const char* deletion,
                                                const char* message) {
        Registration row{message, &registerUserInterface, creation};
        row.deletionProcedure = deletion;
        return row;
    }

  private:
    static RStatus registerNode(RFnPlugin& plugin, const Registration& row) {
        return plugin.registerNode(row.typeName, *row.typeId, row.creator, row.initialize,
                                   row.kind);
    }
    static RStatus deregisterNode(RFnPlugin& plugin, const Registration& row) {
        return plugin.deregisterNode(*row.typeId);
    }
    static RStatus registerCommand(RFnPlugin& plugin, const Registration& row) {
        return plugin.registerCommand(row.typeName, row.creator);
    }
    static RStatus deregisterCommand(RFnPlugin& plugin, const Registration& row) {
        return plugin.deregisterCommand(row.typeName);
    }
    static RStatus registerUserInterface(RFnPlugin& plugin, const Registration& row) {
        return plugin.registerUI(row.typeName, row.deletionProcedure, "", "");
    }
};

}  // namespace kivo_rova
