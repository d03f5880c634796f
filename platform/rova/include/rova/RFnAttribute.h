#pragma once
#include "rova/RMatrix.h"
#include "rova/RObject.h"
#include "rova/RStatus.h"
#include "rova/RString.h"
#include "rova/RTime.h"

// Function set on an attribute object. Flags of a new attribute: readable, writable,
// connectable, storable; not keyable, not hidden, not an array.
class ROVA_API RFnAttribute {
  public:
    RFnAttribute() noexcept = default;
    explicit RFnAttribute(const RObject& attribute, RStatus* status = nullptr);
    virtual ~RFnAttribute() = default;
    RStatus setObject(const RObject& attribute);
    RObject object() const noexcept { return m_attribute; }

    RString name() const;
    RString shortName() const;

    RStatus setKeyable(bool state);
    RStatus setStorable(bool state);
    RStatus setHidden(bool state);
    RStatus setWritable(bool state);
    RStatus setReadable(bool state);
    RStatus setConnectable(bool state);
    RStatus setArray(bool state);
    bool isKeyable() const;
    bool isStorable() const;
    bool isHidden() const;
    bool isWritable() const;
    bool isReadable() const;
    bool isConnectable() const;
    bool isArray() const;

  protected:
    RObject m_attribute;
};

// Kinds of numeric data.
struct RFnNumericData {
    enum Type { kInvalid = 0, kBoolean, kShort, kInt, kFloat, kDouble, k3Double, k3Float };
};

// Kinds of typed (non-numeric) data.
struct RFnData {
    enum Type { kInvalid = 0, kString, kMesh, kMatrix };
};

class ROVA_API RFnNumericAttribute : public RFnAttribute {
  public:
    using RFnAttribute::RFnAttribute;
    RObject create(const RString& longName, const RString& shortName, RFnNumericData::Type type,
                   double defaultValue = 0.0, RStatus* status = nullptr);
    // A compound of three doubles named from its children's base name (children X, Y, Z).
    RObject create(const RString& longName, const RString& shortName, const RObject& child1,
                   const RObject& child2, const RObject& child3, RStatus* status = nullptr);
    RFnNumericData::Type unitType() const;
    RStatus setDefault(bool value);
    RStatus setDefault(int value);
    RStatus setDefault(double value);
    RStatus setDefault(double x, double y, double z);
};

class ROVA_API RFnUnitAttribute : public RFnAttribute {
  public:
    enum Type { kInvalid = 0, kAngle, kDistance, kTime };
    using RFnAttribute::RFnAttribute;
    RObject create(const RString& longName, const RString& shortName, Type unitType,
                   double defaultValue = 0.0, RStatus* status = nullptr);
    RStatus setDefault(const RTime& value);
    RStatus setDefault(double value);
};

class ROVA_API RFnMatrixAttribute : public RFnAttribute {
  public:
    enum Type { kFloat = 0, kDouble };
    using RFnAttribute::RFnAttribute;
    RObject create(const RString& longName, const RString& shortName, Type type = kDouble,
                   RStatus* status = nullptr);
    RStatus setDefault(const RMatrix& value);
};

class ROVA_API RFnEnumAttribute : public RFnAttribute {
  public:
    using RFnAttribute::RFnAttribute;
    RObject create(const RString& longName, const RString& shortName, short defaultValue = 0,
                   RStatus* status = nullptr);
    RStatus addField(const RString& fieldName, short value);
    RString fieldName(short value, RStatus* status = nullptr) const;
    RStatus setDefault(short value);
};

class ROVA_API RFnTypedAttribute : public RFnAttribute {
  public:
    using RFnAttribute::RFnAttribute;
    RObject create(const RString& longName, const RString& shortName, RFnData::Type type,
                   RStatus* status = nullptr);
    RStatus setDefault(const RString& value);
};

class ROVA_API RFnCompoundAttribute : public RFnAttribute {
  public:
    using RFnAttribute::RFnAttribute;
    RObject create(const RString& longName, const RString& shortName, RStatus* status = nullptr);
    RStatus addChild(const RObject& child);
    unsigned int numChildren() const;
    RObject child(unsigned int index, RStatus* status = nullptr) const;
};
