// The scene as a plug-in reaches it through the host API: the active view and its camera, paths,
// selection lists, node iteration, transform and mesh function sets; the objects themselves are
// made through the host's own scene facade, as the rova commands make them.
#include <rovahost/Scene.h>

#include <cmath>
#include <thread>

#include "HostFixture.h"

namespace scene = rova::host::scene;

namespace {

std::string text(const RVector& v) {
    return rova::host::formatDouble(v.x) + " " + rova::host::formatDouble(v.y) + " " +
           rova::host::formatDouble(v.z);
}

std::string text(const RPoint& p) {
    return text(p.asVector());
}

// Components rounded to twelve decimals, so results that go through sines and cosines compare as
// text ("1", not "1.0000000000000002"; "0", not "6.123233995736766e-17" or "-0").
RVector rounded(const RVector& v) {
    const auto r = [](double c) { return std::round(c * 1e12) / 1e12 + 0.0; };
    return {r(v.x), r(v.y), r(v.z)};
}

class SceneTest : public HostTest {
  protected:
    // A transform, under `parent` when given.
    std::string transform(const std::string& name, const std::string& parent = "") {
        auto made = scene::createTransform(name, parent);
        EXPECT_TRUE(made.ok()) << made.status.message;
        return made.value;
    }

    std::string mesh(const std::string& name, const scene::MeshGeometry& geometry,
                     const std::string& parent = "") {
        transform(name, parent);
        auto shape = scene::createShape(name, scene::ShapeType::kMesh);
        EXPECT_TRUE(shape.ok()) << shape.status.message;
        EXPECT_TRUE(scene::setGeometry(name, geometry));
        return name;
    }

    std::string camera(const std::string& name) {
        transform(name);
        auto shape = scene::createShape(name, scene::ShapeType::kCamera);
        EXPECT_TRUE(shape.ok()) << shape.status.message;
        return name;
    }

    void set(const std::string& plug, const std::vector<std::string>& words) {
        const auto status = host.setPlug(plug, words);
        EXPECT_TRUE(status) << status.message;
    }

    RVector rotateOf(const std::string& transform) {
        const auto value = host.getPlug(transform + ".rotate");
        EXPECT_TRUE(value.ok()) << value.status.message;
        return {value.value.double3[0], value.value.double3[1], value.value.double3[2]};
    }

    RDagPath pathOf(const std::string& name) {
        RSelectionList list;
        EXPECT_EQ(list.add(name), RStatus::kSuccess);
        RDagPath path;
        EXPECT_EQ(list.getDagPath(0, path), RStatus::kSuccess);
        return path;
    }

    // What a tracking node reads: eye, view, up and right of the active camera in world space.
    Lines activeCamera() {
        RStatus status;
        const R3dView view = R3dView::active3dView(&status);
        EXPECT_EQ(status, RStatus::kSuccess);
        RDagPath path;
        EXPECT_EQ(view.getCamera(path), RStatus::kSuccess);
        const RFnCamera fn(path, &status);
        EXPECT_EQ(status, RStatus::kSuccess);
        return {path.fullPathName().str(), text(rounded(fn.eyePoint(RSpace::kWorld).asVector())),
                text(rounded(fn.viewDirection(RSpace::kWorld))),
                text(rounded(fn.upDirection(RSpace::kWorld))),
                text(rounded(fn.rightDirection(RSpace::kWorld)))};
    }
};

// ---------------------------------------------------------------- the active view
TEST_F(SceneTest, TheActiveViewLooksThroughTheDefaultCameraUntilAUserCameraIsMadeActive) {
    EXPECT_EQ(activeCamera(), Lines({"|persp|perspShape", "0 0 10", "0 0 -1", "0 1 0", "1 0 0"}));
    EXPECT_EQ(host.nodeNames(), Lines({"sceneTime"})) << "the default camera is no node";

    camera("cam");
    set("cam.translate", {"1", "2", "3"});
    set("cam.rotate", {"0", "90", "0"});
    EXPECT_EQ(activeCamera()[0], "|persp|perspShape") << "making a camera does not activate it";
    ASSERT_TRUE(scene::setActiveCamera("cam"));
    // Turned a quarter about +Y, the camera looks down world -X; its right is world -Z.
    EXPECT_EQ(activeCamera(), Lines({"|cam|camShape", "1 2 3", "-1 0 0", "0 1 0", "0 0 -1"}));

    RFnCamera local(pathOf("camShape"));
    EXPECT_EQ(text(local.eyePoint(RSpace::kObject)), "0 0 0");
    EXPECT_EQ(text(local.viewDirection(RSpace::kObject)), "0 0 -1");

    ASSERT_TRUE(host.deleteNode("cam"));
    EXPECT_EQ(activeCamera()[0], "|persp|perspShape") << "a deleted camera leaves the default";
}

TEST_F(SceneTest, AFailedViewOrCameraLookupReportsItAndTheCameraSetAnswersWithDefaults) {
    ASSERT_TRUE(host.armFault("active3dView", "", 1));
    RStatus status;
    const R3dView view = R3dView::active3dView(&status);
    EXPECT_EQ(status.errorString().str(), "active3dView failed for 'activeView' (injected fault)");
    EXPECT_TRUE(view.isNull());
    RDagPath path;
    EXPECT_EQ(view.getCamera(path).errorString().str(), "getCamera: no 3D view");

    ASSERT_TRUE(host.armFault("getCamera", "persp", 1));
    EXPECT_EQ(R3dView::active3dView().getCamera(path).errorString().str(),
              "getCamera failed for '|persp|perspShape' (injected fault)");
    EXPECT_FALSE(path.isValid());

    const RFnCamera none(path, &status);
    EXPECT_NE(status, RStatus::kSuccess);
    EXPECT_EQ(text(none.eyePoint(RSpace::kWorld, &status)), "0 0 0");
    EXPECT_NE(status, RStatus::kSuccess);
    EXPECT_EQ(text(none.viewDirection(RSpace::kWorld)), "0 0 -1");
    EXPECT_EQ(text(none.upDirection(RSpace::kWorld)), "0 1 0");
    EXPECT_EQ(text(none.rightDirection(RSpace::kWorld)), "1 0 0");
}

TEST_F(SceneTest, ADataThreadFindsNoSceneToReach) {
    mesh("box", scene::cube(1.0));
    const RObject shape = pathOf("boxShape").node();
    RStatus view, add, fn;
    int vertices = -1;
    std::thread([&] {
        R3dView::active3dView(&view);
        RSelectionList list;
        add = list.add("box");
        vertices = RFnMesh(shape, &fn).numVertices();
    }).join();
    EXPECT_EQ(view.errorString().str(),
              "active3dView: the scene is reached from the main thread only");
    EXPECT_EQ(add.errorString().str(), "add: the scene is reached from the main thread only");
    EXPECT_EQ(fn, RStatus::kInvalidParameter);
    EXPECT_EQ(vertices, 0);
    EXPECT_EQ(RFnMesh(shape).numVertices(), 8) << "the same calls on the main thread";
}

// ---------------------------------------------------------------- paths and selection
TEST_F(SceneTest, APathNamesTheHierarchyAndExtendsToTheOneShapeBelowATransform) {
    transform("rig");
    mesh("box", scene::cube(2.0), "rig");
    set("rig.translate", {"0", "5", "0"});
    set("box.translate", {"1", "0", "0"});

    RDagPath path = pathOf("box");
    EXPECT_EQ(path.fullPathName().str(), "|rig|box");
    EXPECT_EQ(path.partialPathName().str(), "box");
    EXPECT_EQ(path.length(), 2u);
    unsigned int shapes = 0;
    ASSERT_EQ(path.numberOfShapesDirectlyBelow(shapes), RStatus::kSuccess);
    EXPECT_EQ(shapes, 1u);
    ASSERT_EQ(path.extendToShape(), RStatus::kSuccess);
    EXPECT_EQ(path.fullPathName().str(), "|rig|box|boxShape");
    EXPECT_EQ(path.extendToShape(), RStatus::kSuccess) << "a shape path stays as it is";
    EXPECT_EQ(path.length(), 3u);
    EXPECT_EQ(RFnTransform(path.transform()).name().str(), "box");
    EXPECT_EQ(RFnDependencyNode(path.node()).typeName().str(), "mesh");

    RMatrix expected;
    expected[3][0] = 1.0;
    expected[3][1] = 5.0;
    EXPECT_EQ(path.inclusiveMatrix(), expected);
    RMatrix parent;
    parent[3][1] = 5.0;
    EXPECT_EQ(path.exclusiveMatrix(), parent);

    RDagPath top = pathOf("rig");
    EXPECT_EQ(top.extendToShape().errorString().str(),
              "extendToShape: 'rig' has 0 shapes, not one");
    EXPECT_EQ(top.fullPathName().str(), "|rig") << "a failed extension leaves the path";

    ASSERT_TRUE(host.deleteNode("rig"));
    EXPECT_FALSE(path.isValid()) << "deleting the parent deletes what is below it";
    RStatus status;
    EXPECT_EQ(path.fullPathName(&status).str(), "");
    EXPECT_EQ(status, RStatus::kInvalidParameter);
}

TEST_F(SceneTest, ASelectionListRefusesUnknownNamesAndGivesPathsOnlyToSceneNodes) {
    mesh("box", scene::cube(1.0));
    RSelectionList list;
    EXPECT_EQ(list.add("boxShape"), RStatus::kSuccess);
    const RStatus unknown = list.add("nothing");
    EXPECT_EQ(unknown, RStatus::kInvalidParameter);
    EXPECT_EQ(unknown.errorString().str(), "add: no node named 'nothing'");
    EXPECT_EQ(list.add("sceneTime"), RStatus::kSuccess);
    EXPECT_EQ(list.length(), 2u);

    RDagPath path;
    ASSERT_EQ(list.getDagPath(0, path), RStatus::kSuccess);
    EXPECT_EQ(path.fullPathName().str(), "|box|boxShape");
    EXPECT_EQ(list.getDagPath(1, path).errorString().str(),
              "getAPathTo: the object is not a transform or shape");
    EXPECT_EQ(path.fullPathName().str(), "|box|boxShape") << "a failed call leaves the path";
    EXPECT_EQ(list.getDagPath(2, path).errorString().str(), "getDagPath: index 2 of a list of 2");
    RObject node;
    ASSERT_EQ(list.getDependNode(1, node), RStatus::kSuccess);
    EXPECT_EQ(RFnDependencyNode(node).name().str(), "sceneTime");
}

TEST_F(SceneTest, TheNodeIteratorWalksOneKindOfNodeInCreationOrder) {
    mesh("a", scene::cube(1.0));
    camera("cam");
    mesh("b", scene::plane(1.0, 1));
    const auto walk = [](RFn::Type type) {
        Lines names;
        for (RItDependencyNodes it(type); !it.isDone(); it.next()) {
            RFnDependencyNode fn(it.thisNode());
            names.push_back(fn.name().str() + ":" + fn.typeName().str());
        }
        return names;
    };
    EXPECT_EQ(walk(RFn::kMesh), Lines({"aShape:mesh", "bShape:mesh"}));
    EXPECT_EQ(walk(RFn::kTransform), Lines({"a:transform", "cam:transform", "b:transform"}));
    EXPECT_EQ(walk(RFn::kCamera), Lines({"camShape:camera"}));
    EXPECT_EQ(walk(RFn::kDependencyNode).size(), 7u);

    RItDependencyNodes it(RFn::kMesh);
    ASSERT_TRUE(host.deleteNode("b"));
    it.next();
    EXPECT_TRUE(it.isDone()) << "a node deleted during the walk is skipped";
    RStatus status;
    EXPECT_TRUE(it.thisNode(&status).isNull());
    EXPECT_EQ(status, RStatus::kFailure);
}

// ---------------------------------------------------------------- transforms
TEST_F(SceneTest, ParentsAndInputMatricesMakeTheWorldMatrixAndDirtyWhatIsBelowThem) {
    transform("top");
    mesh("box", scene::cube(1.0), "top");
    transform("driver");
    for (const char* plug : {"top.matrix", "box.matrix", "driver.matrix", "box.worldMatrix"})
        get(plug);
    takeEvents();

    set("top.translate", {"0", "0", "4"});
    EXPECT_EQ(takeEvents(),
              Lines({"dirty top.matrix", "dirty top.worldMatrix", "dirty box.worldMatrix"}));
    EXPECT_EQ(get("box.worldMatrix"), "1 0 0 0 0 1 0 0 0 0 1 0 0 0 4 1");

    // local = scale, rotate, translate, then inputMatrix; world = local, then the parent's world.
    set("box.scale", {"2", "2", "2"});
    set("box.translate", {"1", "0", "0"});
    set("driver.translate", {"0", "3", "0"});
    ASSERT_TRUE(host.connect("driver.worldMatrix", "box.inputMatrix"));
    takeEvents();
    EXPECT_EQ(get("box.worldMatrix"), "2 0 0 0 0 2 0 0 0 0 2 0 1 3 4 1");
    EXPECT_EQ(takeEvents(), Lines({"compute box.worldMatrix", "compute driver.worldMatrix"}))
        << "the parent is clean: only the box and what drives it compute";
    set("driver.translate", {"0", "-3", "0"});
    EXPECT_EQ(takeEvents(),
              Lines({"dirty driver.worldMatrix", "dirty box.inputMatrix", "dirty box.worldMatrix"}))
        << "the matrix outputs, unread since their inputs last changed, are dirty already";
    RPointArray points;
    ASSERT_EQ(RFnMesh(pathOf("boxShape")).getPoints(points, RSpace::kWorld), RStatus::kSuccess);
    EXPECT_EQ(text(points[0]), "0 -4 5") << "(-0.5, -0.5, 0.5) scaled by 2, then moved";
}

TEST_F(SceneTest, ACycleThroughTheHierarchyIsRefusedAsAnyOtherCycle) {
    transform("a");
    transform("b", "a");
    transform("c", "b");
    EXPECT_EQ(host.connect("b.worldMatrix", "a.inputMatrix").message,
              "cannot connect 'b.worldMatrix' to 'a.inputMatrix': it would close a cycle: "
              "a.inputMatrix -> a.worldMatrix -> b.worldMatrix -> a.inputMatrix");
    EXPECT_EQ(host.connect("c.worldMatrix", "a.inputMatrix").message,
              "cannot connect 'c.worldMatrix' to 'a.inputMatrix': it would close a cycle: "
              "a.inputMatrix -> a.worldMatrix -> b.worldMatrix -> c.worldMatrix -> "
              "a.inputMatrix");
    EXPECT_TRUE(host.connections().empty()) << "a refused connection changes nothing";
    ASSERT_TRUE(host.connect("c.matrix", "a.inputMatrix")) << "c's local matrix ignores a";
    ASSERT_TRUE(host.disconnect("c.matrix", "a.inputMatrix"));

    // Reparenting that would close a cycle through existing connections is refused too.
    transform("d");
    ASSERT_TRUE(host.connect("c.worldMatrix", "d.inputMatrix"));
    transform("e");
    ASSERT_TRUE(scene::setParent("e", "d"));
    EXPECT_EQ(scene::setParent("a", "e").message,
              "cannot put 'a' under 'e': it would close a cycle: a.worldMatrix -> b.worldMatrix "
              "-> c.worldMatrix -> d.inputMatrix -> d.worldMatrix -> e.worldMatrix -> "
              "a.worldMatrix");
    EXPECT_EQ(scene::parentOf("a"), "") << "a refused parent changes nothing";
    ASSERT_TRUE(scene::setParent("a", "")) << "a parent that closes no cycle is taken";
    set("a.translate", {"0", "2", "0"});
    EXPECT_EQ(get("c.worldMatrix"), "1 0 0 0 0 1 0 0 0 0 1 0 0 2 0 1");
    EXPECT_EQ(get("e.worldMatrix"), "1 0 0 0 0 1 0 0 0 0 1 0 0 2 0 1");
}

TEST_F(SceneTest, ATransformFunctionSetReadsAndWritesTranslationAndRotation) {
    transform("top");
    transform("arm", "top");
    set("top.translate", {"10", "0", "0"});
    set("top.rotate", {"0", "0", "90"});
    RFnTransform arm(pathOf("arm"));

    ASSERT_EQ(arm.setTranslation(RVector(1, 2, 3), RSpace::kTransform), RStatus::kSuccess);
    EXPECT_EQ(get("arm.translate"), "1 2 3");
    EXPECT_EQ(text(arm.getTranslation(RSpace::kTransform)), "1 2 3");
    // A quarter turn about +Z takes (1, 2, 3) to (-2, 1, 3); then the parent's (10, 0, 0).
    EXPECT_EQ(text(rounded(arm.getTranslation(RSpace::kWorld))), "8 1 3");
    ASSERT_EQ(arm.setTranslation(RVector(10, 5, 0), RSpace::kWorld), RStatus::kSuccess);
    EXPECT_EQ(text(rounded(arm.getTranslation(RSpace::kWorld))), "10 5 0");
    EXPECT_EQ(text(rounded(arm.getTranslation(RSpace::kTransform))), "5 0 0");

    const RQuaternion quarterY(M_PI / 2, RVector::yAxis);
    ASSERT_EQ(arm.setRotation(quarterY), RStatus::kSuccess);
    EXPECT_EQ(text(rounded(rotateOf("arm"))), "0 90 0");
    RQuaternion back;
    ASSERT_EQ(arm.getRotation(back, RSpace::kTransform), RStatus::kSuccess);
    EXPECT_TRUE(back.isEquivalent(quarterY, 1e-12));
    REulerRotation euler;
    ASSERT_EQ(arm.getRotation(euler), RStatus::kSuccess);
    EXPECT_TRUE(euler.asVector().isEquivalent(RVector(0.0, M_PI / 2, 0.0), 1e-12));
    ASSERT_EQ(arm.getRotation(back, RSpace::kWorld), RStatus::kSuccess);
    EXPECT_TRUE(back.isEquivalent(quarterY * RQuaternion(M_PI / 2, RVector::zAxis), 1e-12));
    ASSERT_EQ(arm.setRotation(REulerRotation(0.0, 0.0, M_PI)), RStatus::kSuccess);
    EXPECT_EQ(get("arm.rotate"), "0 0 180") << "Euler angles are stored as they are given";

    RStatus status;
    camera("cam");
    RFnTransform shape(pathOf("camShape"), &status);
    EXPECT_EQ(status.errorString().str(), "setObject: the object is not a transform");
    EXPECT_EQ(shape.setTranslation(RVector(), RSpace::kTransform).errorString().str(),
              "setTranslation: the function set has no transform");

    ASSERT_TRUE(host.connect("top.translate", "arm.translate"));
    EXPECT_EQ(arm.setTranslation(RVector(), RSpace::kTransform).errorString().str(),
              "cannot set 'arm.translate': it is connected from 'top.translate'");
}

// ---------------------------------------------------------------- meshes
TEST_F(SceneTest, MeshNormalsBelongToTheirVertexAndFollowThePoints) {
    mesh("box", scene::cube(2.0));
    RFnMesh box(pathOf("boxShape"));
    EXPECT_EQ(box.numVertices(), 8);
    EXPECT_EQ(box.numNormals(), 8);
    EXPECT_EQ(box.numPolygons(), 6);
    RPointArray points;
    RFloatVectorArray normals;
    ASSERT_EQ(box.getPoints(points), RStatus::kSuccess);
    ASSERT_EQ(box.getNormals(normals), RStatus::kSuccess);
    ASSERT_EQ(normals.size(), points.size());
    for (std::size_t i = 0; i < points.size(); ++i)  // a cube's corner normal points out of it
        EXPECT_TRUE(normals[i].asVector().isEquivalent(points[i].asVector().normal(), 1e-7))
            << "vertex " << i << ": " << text(normals[i].asVector());

    mesh("floor", scene::plane(2.0, 2));
    RStatus status;
    RFnMesh(pathOf("floor"), &status);
    EXPECT_EQ(status.errorString().str(), "setObject: the object is not a mesh node or mesh data");
    RDagPath floorShape = pathOf("floor");
    ASSERT_EQ(floorShape.extendToShape(), RStatus::kSuccess);
    RFnMesh floor(floorShape);
    unsigned long long before = 0, after = 0;
    ASSERT_EQ(floor.revision(before), RStatus::kSuccess);
    ASSERT_EQ(floor.getPoints(points), RStatus::kSuccess);
    ASSERT_EQ(points.size(), 9u);
    ASSERT_EQ(floor.getNormals(normals), RStatus::kSuccess);
    for (const auto& n : normals) EXPECT_EQ(text(n.asVector()), "0 1 0");

    // Lifting the middle vertex tilts the normals around it, each towards its own side.
    points[4].y = 1.0;
    ASSERT_EQ(floor.setPoints(points), RStatus::kSuccess);
    ASSERT_EQ(floor.revision(after), RStatus::kSuccess);
    EXPECT_NE(before, after);
    ASSERT_EQ(floor.getNormals(normals), RStatus::kSuccess);
    EXPECT_EQ(text(normals[4].asVector()), "0 1 0") << "the middle one by symmetry";
    EXPECT_LT(normals[3].x, 0.0f) << "vertex 3 sits at -X: its faces lean towards -X";
    EXPECT_GT(normals[5].x, 0.0f);
    EXPECT_LT(normals[1].z, 0.0f);
    EXPECT_GT(normals[7].z, 0.0f);
    EXPECT_LT(normals[0].x, 0.0f) << "a corner leans away from the middle on both sides";
    EXPECT_LT(normals[0].z, 0.0f);
    RIntArray polygon;
    ASSERT_EQ(floor.getPolygonVertices(3, polygon), RStatus::kSuccess);
    EXPECT_EQ(polygon, RIntArray({4, 7, 8, 5}));

    EXPECT_EQ(floor.setPoints(RPointArray(3)).errorString().str(),
              "setPoints: 3 points for a mesh of 9 vertices");

    // The box around the points follows them; a mesh without points has an empty box.
    RPoint lower, upper;
    ASSERT_EQ(floor.getBoundingBox(lower, upper), RStatus::kSuccess);
    EXPECT_EQ(text(lower.asVector()) + " | " + text(upper.asVector()), "-1 0 -1 | 1 1 1");
    points[8].x = 5.0;
    ASSERT_EQ(floor.setPoints(points), RStatus::kSuccess);
    ASSERT_EQ(floor.getBoundingBox(lower, upper), RStatus::kSuccess);
    EXPECT_EQ(text(upper.asVector()), "5 1 1");
    mesh("empty", scene::MeshGeometry{});
    RDagPath emptyShape = pathOf("empty");
    ASSERT_EQ(emptyShape.extendToShape(), RStatus::kSuccess);
    ASSERT_EQ(RFnMesh(emptyShape).getBoundingBox(lower, upper), RStatus::kSuccess);
    EXPECT_GT(lower.x, upper.x);
}

TEST_F(SceneTest, WorldSpacePointsGoThroughEveryTransformAboveTheMesh) {
    transform("top");
    mesh("box", scene::cube(1.0), "top");
    set("top.translate", {"0", "10", "0"});
    set("box.rotate", {"0", "0", "90"});
    RFnMesh box(pathOf("boxShape"));
    RPointArray world;
    ASSERT_EQ(box.getPoints(world, RSpace::kWorld), RStatus::kSuccess);
    // (-0.5, -0.5, 0.5) turned a quarter about +Z is (0.5, -0.5, 0.5), then 10 up.
    EXPECT_EQ(text(rounded(world[0].asVector())), "0.5 9.5 0.5");
    RFloatVectorArray normals;
    ASSERT_EQ(box.getNormals(normals, RSpace::kWorld), RStatus::kSuccess);
    EXPECT_TRUE(normals[0].asVector().isEquivalent(RVector(1, -1, 1).normal(), 1e-7));

    // Setting world positions stores them in object space.
    world[0] = RPoint(0.0, 10.0, 0.0);
    ASSERT_EQ(box.setPoints(world, RSpace::kWorld), RStatus::kSuccess);
    RPointArray local;
    ASSERT_EQ(box.getPoints(local, RSpace::kObject), RStatus::kSuccess);
    EXPECT_EQ(text(rounded(local[0].asVector())), "0 0 0");
    EXPECT_EQ(text(rounded(local[1].asVector())), "0.5 -0.5 0.5") << "the others are unchanged";

    const auto shape = scene::geometry("box", true);
    ASSERT_TRUE(shape.ok());
    EXPECT_EQ(shape.value.points[0], (std::array<double, 3>{0.0, 10.0, 0.0}));
}

TEST_F(SceneTest, PrimitivesHaveTheirExactVertexCounts) {
    EXPECT_EQ(scene::cube(1.0).points.size(), 8u);
    EXPECT_EQ(scene::plane(1.0, 3).points.size(), 16u);
    EXPECT_EQ(scene::plane(1.0, 3).faces.size(), 9u);
    const auto ball = scene::sphere(2.0, 8);  // 8 slices, 4 stacks: 2 poles and 3 rings of 8
    EXPECT_EQ(ball.points.size(), 26u);
    EXPECT_EQ(ball.faces.size(), 32u);
    for (const auto& p : ball.points) EXPECT_NEAR(std::hypot(p[0], p[1], p[2]), 2.0, 1e-12);
    mesh("ball", ball);
    RFnMesh fn(pathOf("ballShape"));
    RFloatVectorArray normals;
    ASSERT_EQ(fn.getNormals(normals), RStatus::kSuccess);
    for (std::size_t i = 0; i < normals.size(); ++i)  // every normal points outwards
        EXPECT_GT(normals[i].asVector() *
                      RVector(ball.points[i][0], ball.points[i][1], ball.points[i][2]),
                  1.5)
            << "vertex " << i;
}

}  // namespace
