#pragma once
// The runtime's way into the private parts of the public API types.
#include "model/NodeRecords.h"
#include "rova/RArrayDataHandle.h"
#include "rova/RDataBlock.h"
#include "rova/RDataHandle.h"
#include "rova/RPlug.h"
#include "rova/RPxNode.h"
#include "rova/RStatus.h"

namespace rova::detail {

struct NodeAccess {
    static NodeRecord* record(const RPxNode& node) { return node.m_record; }
    static void setRecord(RPxNode& node, NodeRecord* record) { node.m_record = record; }
};

struct DataBlockAccess {
    static RDataBlock make(NodeRecord* node) { return RDataBlock(node); }
    static NodeRecord* node(const RDataBlock& block) {
        return static_cast<NodeRecord*>(block.m_node);
    }
};

struct StatusAccess {
    // Clears a status that has no description of its own (false, untouched, when it has one): a
    // caller that must not make a call on its common path clears the others another way.
    static bool clearPlain(RStatus& status) noexcept {
        if (!status.m_description.isEmpty())
            return false;
        status.m_code = RStatus::kSuccess;
        return true;
    }
};

// A plug's attribute where it lies: the data block's calls that take a plug would otherwise copy
// it (a locked reference count up and down) once per output a compute writes.
struct PlugAccess {
    static const RObject& attribute(const RPlug& plug) { return plug.m_attribute; }
};

struct DataHandleAccess {
    // `storage`: the slot of the value's dirty flag, when the caller has it (-1: look it up).
    static RDataHandle make(Value* value, NodeRecord* node, int attribute, int component,
                            int storage = -1) {
        RDataHandle handle;
        handle.m_value = value;
        handle.m_block = node;
        handle.m_attribute = attribute;
        handle.m_component = component;
        handle.m_storage = storage;
        return handle;
    }
    static Value* value(const RDataHandle& h) { return h.m_value; }
    static NodeRecord* node(const RDataHandle& h) { return static_cast<NodeRecord*>(h.m_block); }
    static int attribute(const RDataHandle& h) { return h.m_attribute; }
    static int component(const RDataHandle& h) { return h.m_component; }
    static void setElement(RDataHandle& h, int element) { h.m_element = element; }
};

struct ArrayHandleAccess {
    static RArrayDataHandle make(NodeRecord* node, int attribute, bool output);
    static NodeRecord* node(const RArrayDataHandle& h) {
        return static_cast<NodeRecord*>(h.m_block);
    }
    static int attribute(const RArrayDataHandle& h) { return h.m_attribute; }
    static bool output(const RArrayDataHandle& h) { return h.m_output; }
    static int& position(RArrayDataHandle& h) { return h.m_position; }
};

}  // namespace rova::detail
