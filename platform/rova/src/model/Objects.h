#pragma once
// What every runtime object behind an RObject handle is, and the handle's private access.
#include <memory>
#include <utility>

#include "rova/RObject.h"

namespace rova::detail {

struct ObjectImpl : std::enable_shared_from_this<ObjectImpl> {
    explicit ObjectImpl(RObject::Kind k) : kind(k) {}
    virtual ~ObjectImpl() = default;
    RObject::Kind kind;
};

struct Access {
    static RObject make(std::shared_ptr<ObjectImpl> impl) { return RObject(std::move(impl)); }
    static ObjectImpl* get(const RObject& object) { return object.m_impl.get(); }
    static std::shared_ptr<ObjectImpl> share(const RObject& object) { return object.m_impl; }
};

// Generic data passed around as an RObject (mesh data and the like).
struct DataObject : ObjectImpl {
    DataObject() : ObjectImpl(RObject::Kind::kData) {}
};

}  // namespace rova::detail
