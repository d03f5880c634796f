// Plug values: how they print, and conversion to and from what a node stores.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <optional>

#include "HostText.h"
#include "model/Attributes.h"
#include "model/NodeRecords.h"
#include "model/Objects.h"
#include "model/Values.h"
#include "rova/RGlobal.h"

using rova::detail::AttributeDef;
using rova::detail::PlugRef;
using rova::detail::Value;
using rova::detail::ValueType;

namespace rova::host {

// ---------------------------------------------------------------- values
std::string formatValue(const PlugValue& value) {
    switch (value.kind) {
        case PlugValue::Kind::kNone:
            return "";
        case PlugValue::Kind::kBool:
            return value.boolValue ? "true" : "false";
        case PlugValue::Kind::kInt:
            return std::to_string(value.intValue);
        case PlugValue::Kind::kDouble:
        case PlugValue::Kind::kTime:
            return formatDouble(value.doubleValue);
        case PlugValue::Kind::kDouble3:
            return formatDouble(value.double3[0]) + " " + formatDouble(value.double3[1]) + " " +
                   formatDouble(value.double3[2]);
        case PlugValue::Kind::kMatrix: {
            std::string text;
            for (double v : value.matrix) text += (text.empty() ? "" : " ") + formatDouble(v);
            return text;
        }
        case PlugValue::Kind::kString:
            return value.text;
        case PlugValue::Kind::kMesh:
            return value.mesh ? "mesh" : "none";
        case PlugValue::Kind::kArray: {
            std::string text;
            for (const auto& element : value.elements)
                text += (text.empty() ? "" : " ") + formatValue(element.second);
            return text;
        }
    }
    return "";
}

PlugValue::PlugValue() = default;

PlugValue PlugValue::ofBool(bool v) {
    PlugValue p;
    p.kind = Kind::kBool;
    p.boolValue = v;
    return p;
}
PlugValue PlugValue::ofInt(std::int64_t v) {
    PlugValue p;
    p.kind = Kind::kInt;
    p.intValue = v;
    return p;
}
PlugValue PlugValue::ofDouble(double v) {
    PlugValue p;
    p.kind = Kind::kDouble;
    p.doubleValue = v;
    return p;
}
PlugValue PlugValue::ofDouble3(double x, double y, double z) {
    PlugValue p;
    p.kind = Kind::kDouble3;
    p.double3 = {x, y, z};
    return p;
}
PlugValue PlugValue::ofMatrix(const std::array<double, 16>& m) {
    PlugValue p;
    p.kind = Kind::kMatrix;
    p.matrix = m;
    return p;
}
PlugValue PlugValue::ofString(std::string s) {
    PlugValue p;
    p.kind = Kind::kString;
    p.text = std::move(s);
    return p;
}
PlugValue PlugValue::ofTime(double seconds) {
    PlugValue p;
    p.kind = Kind::kTime;
    p.doubleValue = seconds;
    return p;
}

bool PlugValue::operator==(const PlugValue& o) const {
    if (kind != o.kind)
        return false;
    switch (kind) {
        case Kind::kNone:
            return true;
        case Kind::kBool:
            return boolValue == o.boolValue;
        case Kind::kInt:
            return intValue == o.intValue;
        case Kind::kDouble:
        case Kind::kTime:
            return doubleValue == o.doubleValue;
        case Kind::kDouble3:
            return double3 == o.double3;
        case Kind::kMatrix:
            return matrix == o.matrix;
        case Kind::kString:
            return text == o.text;
        case Kind::kMesh:
            return mesh == o.mesh;
        case Kind::kArray:
            return elements == o.elements;
    }
    return false;
}

PlugValue toPlugValue(const AttributeDef& def, const Value& value) {
    switch (def.type) {
        case ValueType::kBool:
            return PlugValue::ofBool(value.asNumber() != 0.0);
        case ValueType::kShort:
        case ValueType::kInt:
        case ValueType::kEnum:
            return PlugValue::ofInt(static_cast<std::int64_t>(value.asNumber()));
        case ValueType::kFloat:
        case ValueType::kDouble:
            return PlugValue::ofDouble(value.asNumber());
        case ValueType::kTime:
            return PlugValue::ofTime(value.asNumber());
        case ValueType::kDouble3:
            return PlugValue::ofDouble3(value.v3[0], value.v3[1], value.v3[2]);
        case ValueType::kMatrix: {
            std::array<double, 16> m{};
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 4; ++c)
                    m[static_cast<std::size_t>(r * 4 + c)] = value.matrix()[r][c];
            return PlugValue::ofMatrix(m);
        }
        case ValueType::kString:
            return PlugValue::ofString(value.text());
        case ValueType::kMesh: {
            PlugValue p;
            p.kind = PlugValue::Kind::kMesh;
            p.mesh = value.mesh;
            return p;
        }
        case ValueType::kCompound:
            break;
    }
    return PlugValue{};
}

namespace {

// Why the number cannot be stored in an attribute of this type, or nothing: a float that would
// become infinite, an integer beyond its type, an enum index that is none of its fields.
std::optional<std::string> unrepresentable(const AttributeDef& def, double number) {
    const std::string text = "'" + formatDouble(number) + "'";
    switch (def.type) {
        case ValueType::kFloat:
            if (std::isfinite(number) && std::isinf(static_cast<float>(number)))
                return text + " is out of range (expected a number a float holds, at most " +
                       formatDouble(std::numeric_limits<float>::max()) + " in size)";
            return std::nullopt;
        case ValueType::kShort:
            if (!(number >= -32768.0 && number <= 32767.0))
                return text + " is out of range (expected an integer from -32768 to 32767)";
            return std::nullopt;
        case ValueType::kInt:
        case ValueType::kEnum: {
            if (!(number >= INT32_MIN && number <= INT32_MAX))
                return text + " is out of range (expected a 32-bit integer)";
            // An enum without fields has nothing to check against.
            if (def.type != ValueType::kEnum || def.fields.empty())
                return std::nullopt;
            std::string fields;
            for (const auto& [name, index] : def.fields) {
                if (index == number)
                    return std::nullopt;
                fields += (fields.empty() ? "" : ", ") + std::to_string(index) + " (" + name + ")";
            }
            return text + " is not a field of the enum (fields: " + fields + ")";
        }
        default:
            return std::nullopt;
    }
}

}  // namespace

bool fromPlugValue(const AttributeDef& def, const PlugValue& in, Value& out, std::string& error) {
    out = def.defaultValue;
    out.type = def.type;
    const auto mismatch = [&] {
        error = std::string("a ") + detail::valueTypeName(def.type) + " value is expected";
        return false;
    };
    if (detail::isScalar(def.type)) {
        double number = 0.0;
        switch (in.kind) {
            case PlugValue::Kind::kBool:
                number = in.boolValue ? 1.0 : 0.0;
                break;
            case PlugValue::Kind::kInt:
                number = static_cast<double>(in.intValue);
                break;
            case PlugValue::Kind::kDouble:
            case PlugValue::Kind::kTime:
                number = in.doubleValue;
                break;
            default:
                return mismatch();
        }
        if (auto problem = unrepresentable(def, number)) {
            error = std::move(*problem);
            return false;
        }
        out.setNumber(number);
        return true;
    }
    switch (def.type) {
        case ValueType::kDouble3:
            if (in.kind != PlugValue::Kind::kDouble3)
                return mismatch();
            for (int k = 0; k < 3; ++k) out.v3[k] = in.double3[static_cast<std::size_t>(k)];
            return true;
        case ValueType::kMatrix:
            if (in.kind != PlugValue::Kind::kMatrix)
                return mismatch();
            {
                RMatrix matrix;
                for (int r = 0; r < 4; ++r)
                    for (int c = 0; c < 4; ++c)
                        matrix[r][c] = in.matrix[static_cast<std::size_t>(r * 4 + c)];
                out.setMatrix(matrix);
                return true;
            }
        case ValueType::kString:
            if (in.kind != PlugValue::Kind::kString)
                return mismatch();
            out.setText(in.text);
            return true;
        case ValueType::kMesh:
            if (in.kind != PlugValue::Kind::kMesh)
                return mismatch();
            out.mesh = std::const_pointer_cast<detail::ObjectImpl>(
                std::static_pointer_cast<const detail::ObjectImpl>(in.mesh));
            return true;
        default:
            error = "compound values are set through their children";
            return false;
    }
}
PlugValue readPlugValue(const PlugRef& plug) {
    const AttributeDef& def =
        *plug.node->type->attributes[static_cast<std::size_t>(plug.attribute)];
    if (def.array && plug.element < 0) {
        PlugValue array;
        array.kind = PlugValue::Kind::kArray;
        for (const auto& [index, value] : plug.node->arrays[plug.attribute])
            array.elements.emplace_back(index, toPlugValue(def, value));
        return array;
    }
    // A plug with a value of its own is read where it is stored: a copy of a matrix or a string
    // would allocate.
    if (plug.element < 0 && !(def.parent && def.parent->type == detail::ValueType::kDouble3))
        return toPlugValue(def, plug.node->valueOf(plug.attribute));
    return toPlugValue(def, detail::readPlug(plug.node, plug.attribute, plug.element));
}

}  // namespace rova::host
