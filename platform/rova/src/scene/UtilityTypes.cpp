#include "UtilityTypes.h"
#include "HostImpl.h"

#include <cmath>
#include <numbers>

#include "Scene.h"
#include "api/Access.h"
#include "model/Attributes.h"
#include "model/NodeRecords.h"
#include "model/NodeTypes.h"
#include "model/Values.h"
#include "rova/REulerRotation.h"
#include "rova/RPlug.h"

namespace rova::scene {

using detail::AttributeDef;
using detail::NodeRecord;
using detail::NodeType;
using detail::ValueType;

namespace {

// An output compound of three doubles with X, Y and Z children.
std::shared_ptr<AttributeDef> tripleOutput(const std::string& longName,
                                           const std::string& shortName) {
    auto def = tripleAttribute(longName, shortName, 0.0);
    for (AttributeDef* attribute :
         {def.get(), def->children[0].get(), def->children[1].get(), def->children[2].get()}) {
        attribute->writable = false;
        attribute->storable = false;
        attribute->keyable = false;
    }
    return def;
}

class DecomposeMatrixNode : public RPxNode {
  public:
    RStatus compute(const RPlug& plug, RDataBlock&) override {
        NodeRecord* node = detail::NodeAccess::record(*this);
        const NodeType& type = *node->type;
        int attribute = type.indexOf(detail::attributeOf(plug.attribute()));
        if (attribute < 0)
            return RStatus::kUnknownParameter;
        if (const AttributeDef* parent =
                type.attributes[static_cast<std::size_t>(attribute)]->parent)
            attribute = type.index.at(parent);
        const int translate = type.findByName("outputTranslate");
        const int rotate = type.findByName("outputRotate");
        const int scale = type.findByName("outputScale");
        if (attribute != translate && attribute != rotate && attribute != scale)
            return RStatus::kUnknownParameter;
        const int input = type.findByName("inputMatrix");
        detail::hostImpl().evaluate(node, input);
        const RMatrix m = node->valueOf(input).matrix();

        double* t = node->valueOf(translate).v3;
        for (int c = 0; c < 3; ++c) t[c] = m[3][c];
        double* s = node->valueOf(scale).v3;
        RMatrix unscaled = m;
        for (int row = 0; row < 3; ++row) {
            s[row] =
                std::sqrt(m[row][0] * m[row][0] + m[row][1] * m[row][1] + m[row][2] * m[row][2]);
            if (s[row] > 0.0)
                for (int c = 0; c < 3; ++c) unscaled[row][c] = m[row][c] / s[row];
        }
        const REulerRotation euler = REulerRotation::decompose(unscaled);
        double* r = node->valueOf(rotate).v3;
        const double degrees = 180.0 / std::numbers::pi;
        r[0] = euler.x * degrees;
        r[1] = euler.y * degrees;
        r[2] = euler.z * degrees;
        return RStatus::kSuccess;
    }
};

}  // namespace

std::vector<std::shared_ptr<NodeType>> makeUtilityTypes() {
    auto decompose = std::make_shared<NodeType>();
    decompose->name = "decomposeMatrix";
    decompose->id = RTypeId(0x524f0010u);
    decompose->builtinCreator = [] { return new DecomposeMatrixNode(); };
    const int input =
        addAttribute(*decompose, detail::makeAttribute("inputMatrix", "im", ValueType::kMatrix));
    const int outputs[] = {addAttribute(*decompose, tripleOutput("outputTranslate", "ot")),
                           addAttribute(*decompose, tripleOutput("outputRotate", "or")),
                           addAttribute(*decompose, tripleOutput("outputScale", "os"))};
    for (const int output : outputs) {
        auto& affected = decompose->affects[static_cast<std::size_t>(input)];
        affected.push_back(output);
        for (const auto& child : decompose->attributes[static_cast<std::size_t>(output)]->children)
            affected.push_back(decompose->index.at(child.get()));
    }
    return {decompose};
}

}  // namespace rova::scene
