// Attribute creation and configuration (the RFn*Attribute function sets).
#include "rova/RFnAttribute.h"

#include "host/Faults.h"
#include "model/Attributes.h"
#include "model/Objects.h"
#include "model/Values.h"

using rova::detail::AttributeDef;
using rova::detail::ValueType;

namespace rova::detail {

std::shared_ptr<AttributeDef> makeAttribute(const std::string& longName,
                                            const std::string& shortName, ValueType type) {
    auto def = std::make_shared<AttributeDef>();
    def->longName = longName;
    def->shortName = shortName.empty() ? longName : shortName;
    def->type = type;
    def->defaultValue.type = type;
    return def;
}

}  // namespace rova::detail

namespace {

RStatus setStatus(RStatus* out, RStatus status) {
    if (out)
        *out = status;
    return status;
}

RStatus noAttribute(const char* call) {
    return RStatus(RStatus::kInvalidParameter,
                   std::string(call) + ": the function set has no attribute");
}

// Creation shared by every attribute kind: fault check, name check, result handle.
RObject createAttribute(RFnAttribute& set, RObject& slot, const RString& longName,
                        const RString& shortName, ValueType type, RStatus* status,
                        std::shared_ptr<AttributeDef>* made = nullptr) {
    const std::string subject = rova::detail::setupSubject(longName.str());
    if (rova::detail::faultArmed(rova::host::FaultPoint::kCreate, subject)) {
        setStatus(status, rova::detail::injectedFailure(rova::host::FaultPoint::kCreate, subject));
        return RObject();
    }
    if (longName.isEmpty()) {
        setStatus(status,
                  RStatus(RStatus::kInvalidParameter, "create: an attribute needs a long name"));
        return RObject();
    }
    auto def = rova::detail::makeAttribute(longName.str(), shortName.str(), type);
    if (made)
        *made = def;
    slot = rova::detail::Access::make(def);
    (void)set;
    setStatus(status, RStatus());
    return slot;
}

// Flag setters fail (and change nothing) when a fault is armed for them.
RStatus setFlag(const RObject& attribute, rova::host::FaultPoint point, bool AttributeDef::*flag,
                bool state) {
    AttributeDef* def = rova::detail::attributeOf(attribute);
    if (!def)
        return noAttribute(std::string(rova::host::faultPointName(point)).c_str());
    const std::string subject = rova::detail::setupSubject(def->longName);
    if (rova::detail::faultArmed(point, subject))
        return rova::detail::injectedFailure(point, subject);
    def->*flag = state;
    for (auto& child : def->children)
        if (def->type == ValueType::kDouble3)
            child.get()->*flag = state;
    return RStatus();
}

bool getFlag(const RObject& attribute, bool AttributeDef::*flag) {
    const AttributeDef* def = rova::detail::attributeOf(attribute);
    return def && def->*flag;
}

// Default setters: fault check, then a conversion into the attribute's own kind.
AttributeDef* defaultTarget(const RObject& attribute, RStatus& status) {
    AttributeDef* def = rova::detail::attributeOf(attribute);
    if (!def) {
        status = noAttribute("setDefault");
        return nullptr;
    }
    const std::string subject = rova::detail::setupSubject(def->longName);
    if (rova::detail::faultArmed(rova::host::FaultPoint::kSetDefault, subject)) {
        status = rova::detail::injectedFailure(rova::host::FaultPoint::kSetDefault, subject);
        return nullptr;
    }
    return def;
}

}  // namespace

// ---------------------------------------------------------------- RFnAttribute
RFnAttribute::RFnAttribute(const RObject& attribute, RStatus* status) {
    setStatus(status, setObject(attribute));
}

RStatus RFnAttribute::setObject(const RObject& attribute) {
    if (!rova::detail::attributeOf(attribute)) {
        m_attribute = RObject();
        return RStatus(RStatus::kInvalidParameter, "the object is not an attribute");
    }
    m_attribute = attribute;
    return RStatus();
}

RString RFnAttribute::name() const {
    const AttributeDef* def = rova::detail::attributeOf(m_attribute);
    return def ? RString(def->longName) : RString();
}

RString RFnAttribute::shortName() const {
    const AttributeDef* def = rova::detail::attributeOf(m_attribute);
    return def ? RString(def->shortName) : RString();
}

RStatus RFnAttribute::setKeyable(bool state) {
    return setFlag(m_attribute, rova::host::FaultPoint::kSetKeyable, &AttributeDef::keyable, state);
}
RStatus RFnAttribute::setStorable(bool state) {
    return setFlag(m_attribute, rova::host::FaultPoint::kSetStorable, &AttributeDef::storable,
                   state);
}
RStatus RFnAttribute::setHidden(bool state) {
    return setFlag(m_attribute, rova::host::FaultPoint::kSetHidden, &AttributeDef::hidden, state);
}
RStatus RFnAttribute::setWritable(bool state) {
    return setFlag(m_attribute, rova::host::FaultPoint::kSetWritable, &AttributeDef::writable,
                   state);
}
RStatus RFnAttribute::setReadable(bool state) {
    return setFlag(m_attribute, rova::host::FaultPoint::kSetReadable, &AttributeDef::readable,
                   state);
}
RStatus RFnAttribute::setConnectable(bool state) {
    return setFlag(m_attribute, rova::host::FaultPoint::kSetConnectable, &AttributeDef::connectable,
                   state);
}
RStatus RFnAttribute::setArray(bool state) {
    return setFlag(m_attribute, rova::host::FaultPoint::kSetArray, &AttributeDef::array, state);
}
bool RFnAttribute::isKeyable() const {
    return getFlag(m_attribute, &AttributeDef::keyable);
}
bool RFnAttribute::isStorable() const {
    return getFlag(m_attribute, &AttributeDef::storable);
}
bool RFnAttribute::isHidden() const {
    return getFlag(m_attribute, &AttributeDef::hidden);
}
bool RFnAttribute::isWritable() const {
    return getFlag(m_attribute, &AttributeDef::writable);
}
bool RFnAttribute::isReadable() const {
    return getFlag(m_attribute, &AttributeDef::readable);
}
bool RFnAttribute::isConnectable() const {
    return getFlag(m_attribute, &AttributeDef::connectable);
}
bool RFnAttribute::isArray() const {
    return getFlag(m_attribute, &AttributeDef::array);
}

// ---------------------------------------------------------------- numeric
namespace {
ValueType numericValueType(RFnNumericData::Type type) {
    switch (type) {
        case RFnNumericData::kBoolean:
            return ValueType::kBool;
        case RFnNumericData::kShort:
            return ValueType::kShort;
        case RFnNumericData::kInt:
            return ValueType::kInt;
        case RFnNumericData::kFloat:
            return ValueType::kFloat;
        case RFnNumericData::k3Double:
        case RFnNumericData::k3Float:
            return ValueType::kDouble3;
        case RFnNumericData::kDouble:
        case RFnNumericData::kInvalid:
            break;
    }
    return ValueType::kDouble;
}

void adoptChildren(AttributeDef& parent,
                   const std::vector<std::shared_ptr<AttributeDef>>& children) {
    parent.children = children;
    for (std::size_t k = 0; k < children.size(); ++k) {
        children[k]->parent = &parent;
        children[k]->component = static_cast<int>(k);
    }
}
}  // namespace

RObject RFnNumericAttribute::create(const RString& longName, const RString& shortName,
                                    RFnNumericData::Type type, double defaultValue,
                                    RStatus* status) {
    if (type == RFnNumericData::kInvalid) {
        setStatus(status, RStatus(RStatus::kInvalidParameter,
                                  "create: invalid numeric type for '" + longName.str() + "'"));
        return RObject();
    }
    std::shared_ptr<AttributeDef> def;
    RObject made = createAttribute(*this, m_attribute, longName, shortName, numericValueType(type),
                                   status, &def);
    if (made.isNull())
        return made;
    def->numericType = type;
    if (def->type == ValueType::kDouble3) {
        std::vector<std::shared_ptr<AttributeDef>> children;
        for (const auto& [axis, shortAxis] : rova::detail::kAxisSuffixes) {
            auto child = rova::detail::makeAttribute(
                def->longName + axis, def->shortName + shortAxis, ValueType::kDouble);
            child->numericType =
                type == RFnNumericData::k3Float ? RFnNumericData::kFloat : RFnNumericData::kDouble;
            child->defaultValue.d = defaultValue;
            children.push_back(child);
        }
        adoptChildren(*def, children);
        for (double& c : def->defaultValue.v3) c = defaultValue;
    } else {
        def->defaultValue.setNumber(defaultValue);
    }
    return made;
}

RObject RFnNumericAttribute::create(const RString& longName, const RString& shortName,
                                    const RObject& child1, const RObject& child2,
                                    const RObject& child3, RStatus* status) {
    std::vector<std::shared_ptr<AttributeDef>> children;
    for (const RObject* child : {&child1, &child2, &child3}) {
        auto impl = rova::detail::Access::share(*child);
        auto def = std::dynamic_pointer_cast<AttributeDef>(impl);
        if (!def || !rova::detail::isScalar(def->type) || def->parent) {
            const std::string subject = rova::detail::setupSubject(longName.str());
            if (rova::detail::faultArmed(rova::host::FaultPoint::kCreate, subject)) {
                setStatus(status,
                          rova::detail::injectedFailure(rova::host::FaultPoint::kCreate, subject));
                return RObject();
            }
            setStatus(status, RStatus(RStatus::kInvalidParameter,
                                      "create: the children of '" + longName.str() +
                                          "' must be three numeric attributes"));
            return RObject();
        }
        children.push_back(def);
    }
    std::shared_ptr<AttributeDef> def;
    RObject made =
        createAttribute(*this, m_attribute, longName, shortName, ValueType::kDouble3, status, &def);
    if (made.isNull())
        return made;
    def->numericType = RFnNumericData::k3Double;
    adoptChildren(*def, children);
    for (int k = 0; k < 3; ++k)
        def->defaultValue.v3[k] = children[static_cast<std::size_t>(k)]->defaultValue.asNumber();
    return made;
}

RFnNumericData::Type RFnNumericAttribute::unitType() const {
    const AttributeDef* def = rova::detail::attributeOf(m_attribute);
    return def ? def->numericType : RFnNumericData::kInvalid;
}

RStatus RFnNumericAttribute::setDefault(bool value) {
    return setDefault(value ? 1.0 : 0.0);
}
RStatus RFnNumericAttribute::setDefault(int value) {
    return setDefault(static_cast<double>(value));
}

RStatus RFnNumericAttribute::setDefault(double value) {
    RStatus status;
    AttributeDef* def = defaultTarget(m_attribute, status);
    if (!def)
        return status;
    if (def->type == ValueType::kDouble3) {
        for (int k = 0; k < 3; ++k) {
            def->defaultValue.v3[k] = value;
            def->children[static_cast<std::size_t>(k)]->defaultValue.setNumber(value);
        }
    } else if (rova::detail::isScalar(def->type)) {
        def->defaultValue.setNumber(value);
    } else {
        return RStatus(RStatus::kInvalidParameter,
                       "setDefault: '" + def->longName + "' is not a single number");
    }
    return status;
}

RStatus RFnNumericAttribute::setDefault(double x, double y, double z) {
    RStatus status;
    AttributeDef* def = defaultTarget(m_attribute, status);
    if (!def)
        return status;
    if (def->type != ValueType::kDouble3)
        return RStatus(RStatus::kInvalidParameter,
                       "setDefault: '" + def->longName + "' is not a compound of three numbers");
    const double values[3] = {x, y, z};
    for (int k = 0; k < 3; ++k) {
        def->defaultValue.v3[k] = values[k];
        def->children[static_cast<std::size_t>(k)]->defaultValue.setNumber(values[k]);
    }
    return status;
}

// ---------------------------------------------------------------- unit
RObject RFnUnitAttribute::create(const RString& longName, const RString& shortName, Type unitType,
                                 double defaultValue, RStatus* status) {
    if (unitType == kInvalid) {
        setStatus(status, RStatus(RStatus::kInvalidParameter,
                                  "create: invalid unit type for '" + longName.str() + "'"));
        return RObject();
    }
    std::shared_ptr<AttributeDef> def;
    RObject made =
        createAttribute(*this, m_attribute, longName, shortName,
                        unitType == kTime ? ValueType::kTime : ValueType::kDouble, status, &def);
    if (made.isNull())
        return made;
    def->numericType = RFnNumericData::kDouble;
    def->defaultValue.d = defaultValue;
    return made;
}

RStatus RFnUnitAttribute::setDefault(const RTime& value) {
    return setDefault(value.seconds());
}

RStatus RFnUnitAttribute::setDefault(double value) {
    RStatus status;
    AttributeDef* def = defaultTarget(m_attribute, status);
    if (!def)
        return status;
    def->defaultValue.setNumber(value);
    return status;
}

// ---------------------------------------------------------------- matrix
RObject RFnMatrixAttribute::create(const RString& longName, const RString& shortName, Type,
                                   RStatus* status) {
    return createAttribute(*this, m_attribute, longName, shortName, ValueType::kMatrix, status);
}

RStatus RFnMatrixAttribute::setDefault(const RMatrix& value) {
    RStatus status;
    AttributeDef* def = defaultTarget(m_attribute, status);
    if (!def)
        return status;
    if (def->type != ValueType::kMatrix)
        return RStatus(RStatus::kInvalidParameter,
                       "setDefault: '" + def->longName + "' is not a matrix");
    def->defaultValue.setMatrix(value);
    return status;
}

// ---------------------------------------------------------------- enum
RObject RFnEnumAttribute::create(const RString& longName, const RString& shortName,
                                 short defaultValue, RStatus* status) {
    std::shared_ptr<AttributeDef> def;
    RObject made =
        createAttribute(*this, m_attribute, longName, shortName, ValueType::kEnum, status, &def);
    if (made.isNull())
        return made;
    def->numericType = RFnNumericData::kShort;
    def->defaultValue.i = defaultValue;
    return made;
}

RStatus RFnEnumAttribute::addField(const RString& fieldName, short value) {
    AttributeDef* def = rova::detail::attributeOf(m_attribute);
    if (!def)
        return noAttribute("addField");
    const std::string subject = rova::detail::setupSubject(def->longName);
    if (rova::detail::faultArmed(rova::host::FaultPoint::kAddField, subject))
        return rova::detail::injectedFailure(rova::host::FaultPoint::kAddField, subject);
    if (def->type != ValueType::kEnum)
        return RStatus(RStatus::kInvalidParameter,
                       "addField: '" + def->longName + "' is not an enum attribute");
    for (const auto& field : def->fields)
        if (field.first == fieldName.str() || field.second == value)
            return RStatus(RStatus::kInvalidParameter, "addField: '" + def->longName +
                                                           "' already has field '" + field.first +
                                                           "' = " + std::to_string(field.second));
    def->fields.emplace_back(fieldName.str(), value);
    return RStatus();
}

RString RFnEnumAttribute::fieldName(short value, RStatus* status) const {
    const AttributeDef* def = rova::detail::attributeOf(m_attribute);
    if (def)
        for (const auto& field : def->fields)
            if (field.second == value) {
                setStatus(status, RStatus());
                return RString(field.first);
            }
    setStatus(status,
              RStatus(RStatus::kInvalidParameter, "no field with value " + std::to_string(value)));
    return RString();
}

RStatus RFnEnumAttribute::setDefault(short value) {
    RStatus status;
    AttributeDef* def = defaultTarget(m_attribute, status);
    if (!def)
        return status;
    def->defaultValue.i = value;
    return status;
}

// ---------------------------------------------------------------- typed
RObject RFnTypedAttribute::create(const RString& longName, const RString& shortName,
                                  RFnData::Type type, RStatus* status) {
    ValueType valueType = ValueType::kString;
    switch (type) {
        case RFnData::kString:
            valueType = ValueType::kString;
            break;
        case RFnData::kMesh:
            valueType = ValueType::kMesh;
            break;
        case RFnData::kMatrix:
            valueType = ValueType::kMatrix;
            break;
        case RFnData::kInvalid:
            setStatus(status, RStatus(RStatus::kInvalidParameter,
                                      "create: invalid data type for '" + longName.str() + "'"));
            return RObject();
    }
    return createAttribute(*this, m_attribute, longName, shortName, valueType, status);
}

RStatus RFnTypedAttribute::setDefault(const RString& value) {
    RStatus status;
    AttributeDef* def = defaultTarget(m_attribute, status);
    if (!def)
        return status;
    if (def->type != ValueType::kString)
        return RStatus(RStatus::kInvalidParameter,
                       "setDefault: '" + def->longName + "' is not a string attribute");
    def->defaultValue.setText(value.str());
    return status;
}

// ---------------------------------------------------------------- compound
RObject RFnCompoundAttribute::create(const RString& longName, const RString& shortName,
                                     RStatus* status) {
    return createAttribute(*this, m_attribute, longName, shortName, ValueType::kCompound, status);
}

RStatus RFnCompoundAttribute::addChild(const RObject& child) {
    AttributeDef* def = rova::detail::attributeOf(m_attribute);
    if (!def)
        return noAttribute("addChild");
    auto childDef = std::dynamic_pointer_cast<AttributeDef>(rova::detail::Access::share(child));
    if (!childDef)
        return RStatus(RStatus::kInvalidParameter, "addChild: the child is not an attribute");
    if (def->type != ValueType::kCompound)
        return RStatus(RStatus::kInvalidParameter,
                       "addChild: '" + def->longName + "' is not a compound attribute");
    if (childDef->parent)
        return RStatus(RStatus::kInvalidParameter,
                       "addChild: '" + childDef->longName + "' already has a parent");
    childDef->parent = def;
    def->children.push_back(childDef);
    return RStatus();
}

unsigned int RFnCompoundAttribute::numChildren() const {
    const AttributeDef* def = rova::detail::attributeOf(m_attribute);
    return def ? static_cast<unsigned int>(def->children.size()) : 0u;
}

RObject RFnCompoundAttribute::child(unsigned int index, RStatus* status) const {
    const AttributeDef* def = rova::detail::attributeOf(m_attribute);
    if (!def || index >= def->children.size()) {
        setStatus(status, RStatus(RStatus::kInvalidParameter,
                                  "child " + std::to_string(index) + " does not exist"));
        return RObject();
    }
    setStatus(status, RStatus());
    return rova::detail::Access::make(def->children[index]);
}
