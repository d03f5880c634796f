// Value types in the row-vector convention: p' = p * M, A * B applies A first.
#include <gtest/gtest.h>
#include <rova/Rova.h>

#include <cmath>

namespace {
constexpr double kTolerance = 1e-12;
const RVector kAxes[] = {RVector::xAxis, RVector::yAxis, RVector::zAxis};
}  // namespace

TEST(RovaValues, MatricesApplyToRowVectorsAndComposeLeftFirst) {
    RMatrix translate;
    translate[3][0] = 1.0;
    translate[3][1] = 2.0;
    translate[3][2] = 3.0;
    const RMatrix quarterZ = RQuaternion(M_PI / 2, RVector::zAxis).asMatrix();
    const RPoint p = RPoint(1, 0, 0) * (quarterZ * translate);  // rotate first, then move
    EXPECT_NEAR(p.x, 1.0, kTolerance);
    EXPECT_NEAR(p.y, 3.0, kTolerance);
    EXPECT_NEAR(p.z, 3.0, kTolerance);
    const RVector v = RVector(1, 0, 0) * translate;
    EXPECT_TRUE(v.isEquivalent(RVector::xAxis)) << "directions ignore translation";
    EXPECT_TRUE((translate * translate.inverse()).isEquivalent(RMatrix::identity));
    RMatrix singular;
    singular[1][1] = 0.0;
    EXPECT_EQ(singular.inverse(), RMatrix::identity);
}

TEST(RovaValues, QuaternionProductMatchesMatrixProduct) {
    const RQuaternion a(0.7, RVector(1, 2, 3)), b(-1.3, RVector(0, 1, -1));
    EXPECT_TRUE((a * b).asMatrix().isEquivalent(a.asMatrix() * b.asMatrix()));
    const RQuaternion turn(RVector::xAxis, RVector::yAxis);
    EXPECT_TRUE((RVector::xAxis * turn.asMatrix()).isEquivalent(RVector::yAxis));
    const RQuaternion flip(RVector::zAxis, RVector::zNegAxis);
    EXPECT_TRUE((RVector::zAxis * flip.asMatrix()).isEquivalent(RVector::zNegAxis));
    EXPECT_TRUE(RQuaternion(1.0, RVector::zero).isEquivalent(RQuaternion::identity))
        << "zero axis: identity";
}

TEST(RovaValues, SlerpHitsBothEndsAndTakesTheShorterArc) {
    const RQuaternion a(0.2, RVector::yAxis), b(2.9, RVector::yAxis);
    EXPECT_TRUE(slerp(a, b, 0.0).isEquivalent(a));
    EXPECT_TRUE(slerp(a, b, 1.0).asMatrix().isEquivalent(b.asMatrix()));
    RVector axis;
    double angle = 0.0;
    slerp(a, b, 0.5).getAxisAngle(axis, angle);
    EXPECT_NEAR(angle, 1.55, 1e-9);
    // b negated is the same rotation: the interpolation must not take the long way round.
    const RQuaternion negated(-b.x, -b.y, -b.z, -b.w);
    EXPECT_TRUE(slerp(a, negated, 0.5).asMatrix().isEquivalent(slerp(a, b, 0.5).asMatrix()));
    EXPECT_TRUE(slerp(a, a, 0.3).isEquivalent(a));
}

TEST(RovaValues, EulerAnglesRoundTripInEveryOrder) {
    for (int order = 0; order < 6; ++order) {
        const auto o = static_cast<REulerRotation::RotationOrder>(order);
        const REulerRotation e(0.3, -0.5, 1.1, o);
        EXPECT_TRUE(e.asQuaternion().asMatrix().isEquivalent(e.asMatrix())) << order;
        const REulerRotation back = REulerRotation::decompose(e.asMatrix(), o);
        EXPECT_TRUE(back.asMatrix().isEquivalent(e.asMatrix(), 1e-9)) << order;
        EXPECT_NEAR(back.x, 0.3, 1e-9) << order;
        EXPECT_NEAR(back.y, -0.5, 1e-9) << order;
        EXPECT_NEAR(back.z, 1.1, 1e-9) << order;
    }
    // xyz applies x first: y turned by x, then by z.
    const REulerRotation xyz(M_PI / 2, 0, M_PI / 2);
    EXPECT_TRUE((RVector::yAxis * xyz.asMatrix()).isEquivalent(RVector(0, 0, 1)));
    EXPECT_TRUE((RVector::xAxis * xyz.asMatrix()).isEquivalent(RVector(0, 1, 0)));
}

TEST(RovaValues, TransformationMatricesDecomposeIntoScaleRotationTranslation) {
    RTransformationMatrix built;
    built.setScale(RVector(2, 3, 4))
        .rotateTo(REulerRotation(0.4, 0.1, -0.7))
        .setTranslation(RVector(5, 6, 7));
    const RTransformationMatrix back(built.asMatrix());
    EXPECT_TRUE(back.getScale().isEquivalent(RVector(2, 3, 4), 1e-9));
    EXPECT_TRUE(back.translation().isEquivalent(RVector(5, 6, 7)));
    EXPECT_TRUE(
        back.rotation().asMatrix().isEquivalent(REulerRotation(0.4, 0.1, -0.7).asMatrix(), 1e-9));
    EXPECT_TRUE(back.asMatrix().isEquivalent(built.asMatrix(), 1e-9));
    const RTransformationMatrix mirrored(
        RTransformationMatrix().setScale(RVector(-1, 1, 1)).asMatrix());
    EXPECT_TRUE(mirrored.asMatrix().isEquivalent(
        RTransformationMatrix().setScale(RVector(-1, 1, 1)).asMatrix()));
    RMatrix flat;
    flat[2][2] = 0.0;
    const RTransformationMatrix degenerate(flat);
    EXPECT_TRUE(degenerate.rotation().isEquivalent(RQuaternion::identity))
        << "a zero axis still leaves a rotation";
}

TEST(RovaValues, TimeTextAndArgumentsConvert) {
    const RTime frames(48.0, RTime::kFilm);
    EXPECT_DOUBLE_EQ(frames.seconds(), 2.0);
    EXPECT_DOUBLE_EQ(frames.asUnits(RTime::kPALFrame), 50.0);
    EXPECT_DOUBLE_EQ((RTime(3.0) - RTime(500.0, RTime::kMilliseconds)).seconds(), 2.5);
    const RString text("alpha,beta,,gamma");
    EXPECT_EQ(text.split(',').size(), 3u);
    EXPECT_EQ(text.substring(6, 9), "beta");
    EXPECT_EQ(text.index(','), 5);
    EXPECT_EQ(text.rindex(','), 11);
    EXPECT_TRUE(RString("-12").isInt());
    EXPECT_FALSE(RString("12x").isDouble());
    EXPECT_EQ(RString("x") + "y" + RString("z"), "xyz");
    RArgList args({"-connected", "3", "on"});
    RStatus status;
    EXPECT_EQ(args.asInt(1, &status), 3);
    EXPECT_TRUE(args.asBool(2, &status));
    args.asInt(0, &status);
    EXPECT_EQ(status.errorString(), "argument '-connected' is not an integer");
    RArgList numbers({"0x10", "nan", "1e999", "2.5e-1", "99999999999"});
    for (unsigned k = 0; k < 3; ++k) {
        EXPECT_EQ(numbers.asDouble(k, &status), 0.0);
        EXPECT_FALSE(status) << numbers.asString(k).asChar();
    }
    EXPECT_EQ(status.errorString(), "argument '1e999' is out of range");
    numbers.asDouble(1, &status);
    EXPECT_EQ(status.errorString(), "argument 'nan' is not a finite number");
    EXPECT_EQ(numbers.asDouble(3, &status), 0.25);
    numbers.asInt(4, &status);
    EXPECT_EQ(status.errorString(), "argument '99999999999' is out of range");
    args.asString(7, &status);
    EXPECT_EQ(status.errorString(), "argument 7 is missing");
}
