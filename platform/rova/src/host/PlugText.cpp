// `set` from text: the words of a statement parsed by the attribute's type.
#include <algorithm>
#include <cmath>
#include <iostream>

#include "HostImpl.h"
#include "HostText.h"
#include "model/Attributes.h"
#include "model/Values.h"
#include "rova/RGlobal.h"
#include "rovahost/NumberText.h"

using rova::detail::AttributeDef;
using rova::detail::ValueType;

namespace rova::host {

Status Host::setPlug(const std::string& plug, const std::vector<std::string>& words) {
    auto ref = m_impl->parsePlug(plug);
    if (!ref.ok())
        return ref.status;
    const AttributeDef& def =
        *ref.value.node->type->attributes[static_cast<std::size_t>(ref.value.attribute)];
    const std::string path = m_impl->plugName(ref.value);
    const auto expect = [&](const std::string& what) {
        std::string given;
        for (const auto& w : words) given += (given.empty() ? "" : " ") + w;
        return Status::failure("cannot set '" + path + "': expected " + what + ", got '" + given +
                               "'");
    };
    const auto badNumber = [&](const ParsedNumber& number, const std::string& word) {
        return Status::failure("cannot set '" + path +
                               "': " + describeNumberError(number.error, word, "a number"));
    };
    if (def.array && ref.value.element < 0)
        return Status::failure("cannot set '" + path + "': set its elements, as '" + path + "[N]'");
    PlugValue value;
    switch (def.type) {
        case ValueType::kBool: {
            if (words.size() != 1)
                return expect("true or false");
            std::string w = words[0];
            std::transform(w.begin(), w.end(), w.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (w == "true" || w == "on" || w == "1" || w == "yes")
                value = PlugValue::ofBool(true);
            else if (w == "false" || w == "off" || w == "0" || w == "no")
                value = PlugValue::ofBool(false);
            else
                return expect("true or false");
            break;
        }
        case ValueType::kShort:
        case ValueType::kInt:
        case ValueType::kEnum: {
            if (words.size() != 1)
                return expect(def.type == ValueType::kEnum ? "an enum index or field name"
                                                           : "an integer");
            const auto parsed = parseInteger(words[0]);
            std::int64_t number = parsed.value;
            if (parsed.error == NumberError::kOutOfRange)
                return expect(def.type == ValueType::kShort ? "an integer from -32768 to 32767"
                                                            : "a 32-bit integer");
            if (!parsed) {
                bool found = false;
                for (const auto& field : def.fields)
                    if (field.first == words[0]) {
                        number = field.second;
                        found = true;
                    }
                if (!found || def.type != ValueType::kEnum)
                    return expect(def.type == ValueType::kEnum ? "an enum index or field name"
                                                               : "an integer");
            }
            if (def.type == ValueType::kShort && (number < -32768 || number > 32767))
                return expect("an integer from -32768 to 32767");
            if (def.type != ValueType::kShort && (number < INT32_MIN || number > INT32_MAX))
                return expect("a 32-bit integer");
            value = PlugValue::ofInt(number);
            break;
        }
        case ValueType::kFloat:
        case ValueType::kDouble:
        case ValueType::kTime: {
            if (words.size() != 1)
                return expect("a number");
            const auto number = parseFiniteNumber(words[0]);
            if (!number)
                return badNumber(number, words[0]);
            value = def.type == ValueType::kTime ? PlugValue::ofTime(number.value)
                                                 : PlugValue::ofDouble(number.value);
            break;
        }
        case ValueType::kDouble3: {
            if (isChildOf3(def)) {
                if (words.size() != 1)
                    return expect("a number");
                const auto number = parseFiniteNumber(words[0]);
                if (!number)
                    return badNumber(number, words[0]);
                value = PlugValue::ofDouble(number.value);
                break;
            }
            double n[3];
            if (words.size() != 3)
                return expect("3 numbers");
            for (std::size_t k = 0; k < 3; ++k) {
                const auto number = parseFiniteNumber(words[k]);
                if (!number)
                    return badNumber(number, words[k]);
                n[k] = number.value;
            }
            value = PlugValue::ofDouble3(n[0], n[1], n[2]);
            break;
        }
        case ValueType::kMatrix: {
            std::array<double, 16> m{};
            if (words.size() != 16)
                return expect("16 numbers");
            for (std::size_t k = 0; k < 16; ++k) {
                const auto number = parseFiniteNumber(words[k]);
                if (!number)
                    return badNumber(number, words[k]);
                m[k] = number.value;
            }
            value = PlugValue::ofMatrix(m);
            break;
        }
        case ValueType::kString: {
            std::string text;
            for (const auto& w : words) text += (text.empty() ? "" : " ") + w;
            value = PlugValue::ofString(text);
            break;
        }
        case ValueType::kMesh:
        case ValueType::kCompound:
            return Status::failure("cannot set '" + path + "': " + detail::valueTypeName(def.type) +
                                   " values are not set from text");
    }
    return m_impl->storeValue(ref.value.node, ref.value.attribute, ref.value.element, value);
}

}  // namespace rova::host
