#include "nodes/KivoDeformerNode.h"

#include <cmath>
#include <iostream>
#include <string>

#include "host/SetupReport.h"

namespace kivo_rova {

static_assert(KivoDeformerNode::kInputPoints == kMaxDeformInputs);

namespace {

// The array-handle failures of deformGeometry: the set-up header with the line of the report.
RStatus reported(const RStatus& status, const char* file = __builtin_FILE(),
                 unsigned int line = __builtin_LINE()) {
    reportConfigureFailure(status, file, line);
    return status;
}

}  // namespace

const RTypeId KivoDeformerNode::id{0x777783};

RObject KivoDeformerNode::deformType;
RObject KivoDeformerNode::falloffType;
RObject KivoDeformerNode::weightedSign;
RObject KivoDeformerNode::radius;
RObject KivoDeformerNode::power;
RObject KivoDeformerNode::verbose;
RObject KivoDeformerNode::permanent;
RObject KivoDeformerNode::pause;
RObject KivoDeformerNode::inputPoint[KivoDeformerNode::kInputPoints];
RObject KivoDeformerNode::inputPointEnabled[KivoDeformerNode::kInputPoints];

KivoDeformerNode::~KivoDeformerNode() = default;

void* KivoDeformerNode::createInstance() {
    return static_cast<RPxNode*>(new KivoDeformerNode);
}

RStatus KivoDeformerNode::initializeAttributes() {
    RFnEnumAttribute enumeration;
    RFnNumericAttribute numeric;

    // Creation statuses are left to addAttribute to reveal.
    deformType = enumeration.create("deformType", "dt", 1);
    checkConfigure(enumeration.addField("pushPull", 0));
    checkConfigure(enumeration.addField("push", 1));
    checkConfigure(enumeration.addField("pull", 2));
    checkConfigure(enumeration.setStorable(true));
    checkConfigure(enumeration.setKeyable(true));

    falloffType = enumeration.create("falloffType", "ft", 0);
    checkConfigure(enumeration.addField("gauss", 0));
    checkConfigure(enumeration.addField("linear", 1));
    checkConfigure(enumeration.addField("needle", 2));
    checkConfigure(enumeration.setStorable(true));
    checkConfigure(enumeration.setKeyable(true));

    weightedSign = numeric.create("weightedSign", "ws", RFnNumericData::kBoolean, 0.0);
    checkConfigure(numeric.setKeyable(true));
    checkConfigure(numeric.setStorable(true));
    checkConfigure(numeric.setHidden(false));
    checkConfigure(numeric.setDefault(true));

    radius = numeric.create("radius", "rad", RFnNumericData::kDouble, 0.0);
    checkConfigure(numeric.setKeyable(true));
    checkConfigure(numeric.setStorable(true));
    checkConfigure(numeric.setHidden(false));
    checkConfigure(numeric.setDefault(1.0));

    power = numeric.create("power", "pow", RFnNumericData::kDouble, 0.0);
    checkConfigure(numeric.setKeyable(true));
    checkConfigure(numeric.setStorable(true));
    checkConfigure(numeric.setHidden(false));
    checkConfigure(numeric.setDefault(1.0));

    verbose = numeric.create("verbose", "vb", RFnNumericData::kBoolean, 0.0);
    checkConfigure(numeric.setKeyable(true));
    checkConfigure(numeric.setStorable(true));
    checkConfigure(numeric.setHidden(false));
    checkConfigure(numeric.setDefault(false));

    permanent = numeric.create("permanent", "perm", RFnNumericData::kBoolean, 0.0);
    checkConfigure(numeric.setKeyable(true));
    checkConfigure(numeric.setStorable(true));
    checkConfigure(numeric.setHidden(false));
    checkConfigure(numeric.setDefault(false));

    pause = numeric.create("pause", "pau", RFnNumericData::kBoolean, 0.0);
    checkConfigure(numeric.setKeyable(true));
    checkConfigure(numeric.setStorable(true));
    checkConfigure(numeric.setHidden(false));
    checkConfigure(numeric.setDefault(false));

    if (!addAttributeOrReport(deformType, "deformType") ||
        !addAttributeOrReport(falloffType, "falloffType") ||
        !addAttributeOrReport(weightedSign, "weightedSign") ||
        !addAttributeOrReport(radius, "radius") || !addAttributeOrReport(power, "power") ||
        !addAttributeOrReport(verbose, "verbose") ||
        !addAttributeOrReport(permanent, "permanent") || !addAttributeOrReport(pause, "pause")) {
        return RStatus::kFailure;
    }

    // verbose affects nothing: switching it shows at the next evaluation something else causes.
    if (!attributeAffectsOrReport(deformType, "deformType", outputGeom, "outputGeom") ||
        !attributeAffectsOrReport(falloffType, "falloffType", outputGeom, "outputGeom") ||
        !attributeAffectsOrReport(weightedSign, "weightedSign", outputGeom, "outputGeom") ||
        !attributeAffectsOrReport(radius, "radius", outputGeom, "outputGeom") ||
        !attributeAffectsOrReport(power, "power", outputGeom, "outputGeom") ||
        !attributeAffectsOrReport(permanent, "permanent", outputGeom, "outputGeom") ||
        !attributeAffectsOrReport(pause, "pause", outputGeom, "outputGeom")) {
        return RStatus::kFailure;
    }

    // A pair that cannot be set up is left out; the others still come.
    for (int k = 0; k < kInputPoints; ++k) {
        (void)initializeInputPoint(k);
    }
    return RStatus::kSuccess;
}

RStatus KivoDeformerNode::initializeInputPoint(int index) {
    RFnMatrixAttribute matrix;
    RFnNumericAttribute numeric;
    RStatus status;
    const std::string number = std::to_string(index);

    inputPoint[index] = matrix.create(RString("inputPoint" + number), RString("ip" + number),
                                      RFnMatrixAttribute::kDouble, &status);
    if (!succeededOrReport(status, "create inputPointTransform")) {
        return status;
    }
    checkConfigure(matrix.setStorable(true));
    checkConfigure(matrix.setKeyable(true));
    checkConfigure(matrix.setHidden(true));
    status = addAttribute(inputPoint[index]);
    if (!succeededOrReport(status, "add inputPointTransform")) {
        return status;
    }

    inputPointEnabled[index] =
        numeric.create(RString("inputPoint" + number + "Enabled"),
                       RString("ip" + number + "Enabled"), RFnNumericData::kBoolean, 0.0, &status);
    if (!succeededOrReport(status, "create inputPointEnabled")) {
        return status;
    }
    checkConfigure(numeric.setStorable(true));
    checkConfigure(numeric.setKeyable(true));
    status = addAttribute(inputPointEnabled[index]);
    if (!succeededOrReport(status, "add inputPointEnabled")) {
        return status;
    }

    // Only the first pair is declared to affect the output; the others are read whenever the
    // node evaluates for another reason.
    if (index == 0) {
        reportAndContinue(attributeAffects(inputPoint[index], outputGeom),
                          "attributeAffects: inputTransform -> outputGeom");
        status = attributeAffects(inputPointEnabled[index], outputGeom);
        if (!succeededOrReport(status, "attributeAffects: inputEnabled -> outputGeom")) {
            return status;
        }
    }
    return RStatus::kSuccess;
}

RStatus KivoDeformerNode::deformGeometry(RDataBlock& block, RItGeometry& iterator,
                                         const RMatrix& localToWorld, unsigned int multiIndex) {
    RStatus status;
    RArrayDataHandle inputs = block.outputArrayValue(input, &status);
    if (status.error()) {
        return reported(status);  // outputArrayValue
    }
    status = inputs.jumpToElement(multiIndex);
    if (status.error()) {
        return reported(status);  // jumpToElement
    }
    RObject meshData = inputs.outputValue().child(inputGeom).asMesh();
    RFnMesh mesh(meshData);

    DeformSettings settings;
    settings.radius = block.inputValue(radius).asDouble();
    settings.power = block.inputValue(power).asDouble();
    const bool keep = block.inputValue(permanent).asBool();
    settings.pause = block.inputValue(pause).asBool();
    const bool talk = block.inputValue(verbose).asBool();
    settings.weightedSign = block.inputValue(weightedSign).asBool();
    settings.falloffType = block.inputValue(falloffType).asShort();
    settings.deformType = block.inputValue(deformType).asShort();

    const RMatrix toObject = localToWorld.inverse();
    RPointArray points;
    for (int k = 0; k < kInputPoints; ++k) {
        if (!block.inputValue(inputPointEnabled[k]).asBool()) {
            continue;
        }
        const RMatrix& transform = block.inputValue(inputPoint[k]).asMatrix();
        const RPoint point = RPoint(transform[3][0], transform[3][1], transform[3][2]) * toObject;
        // A point at infinity (an overflowed mapping) reaches no vertex: taken in, it would
        // turn every vertex it is measured against into NaN.
        if (!std::isfinite(point.x) || !std::isfinite(point.y) || !std::isfinite(point.z)) {
            if (talk) {
                std::cout << "\t input point " << k << " is not finite: left out." << std::endl;
            }
            continue;
        }
        points.push_back(point);
    }

    if (talk) {
        std::cout << "Deforming begin..." << std::endl;
    }
    StoredShape& stored = storedShapes[multiIndex];
    RPointArray& storedPoints = stored.storedPoints;
    RFloatVectorArray& storedNormals = stored.storedNormals;
    if (points.empty()) {
        if (talk) {
            std::cout << "\t no deformation inputs." << std::endl;
        }
        if (keep && !storedPoints.empty()) {
            iterator.setAllPositions(storedPoints, RSpace::kObject);
        }
        return RStatus::kSuccess;
    }

    // Points fresh from the mesh lie in the box the mesh keeps with its geometry.
    PointBounds meshBounds;
    bool fresh = false;
    if (!keep || iterator.count() != static_cast<int>(storedPoints.size())) {
        mesh.getPoints(storedPoints, RSpace::kObject);
        fresh = !mesh.getBoundingBox(meshBounds.lower, meshBounds.upper).error();
    }
    if (!keep || mesh.numNormals() != static_cast<int>(storedNormals.size())) {
        mesh.getNormals(storedNormals, RSpace::kObject);
    }
    deformPoints(settings, points, storedPoints, storedNormals, fresh ? &meshBounds : nullptr);
    iterator.setAllPositions(storedPoints, RSpace::kObject);
    if (keep) {
        mesh.setPoints(storedPoints, RSpace::kObject);
        mesh.getNormals(storedNormals, RSpace::kObject);
    }
    if (talk) {
        std::cout << "\t success" << std::endl;
    }
    return RStatus::kSuccess;
}

}  // namespace kivo_rova
