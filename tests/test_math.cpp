// Math value types: the row-vector conventions the scene passes rely on, inversion, quaternion
// and TRS round trips.
#include "host/math/kaMath.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <random>

using namespace Lode::Math;

namespace {

constexpr float kHalfPi = std::numbers::pi_v<float> / 2.0f;

testing::AssertionResult matricesNear(const kaMatrix44f& a, const kaMatrix44f& b, float tolerance)
{
    for (int e = 0; e < 16; ++e)
        if (const float x = a.m[e / 4][e % 4], y = b.m[e / 4][e % 4]; !(std::fabs(x - y) <= tolerance))
            return testing::AssertionFailure() << "m[" << e / 4 << "][" << e % 4 << "]: " << x << " vs " << y;
    return testing::AssertionSuccess();
}

testing::AssertionResult vectorsNear(const kaVec3f& a, const kaVec3f& b, float tolerance)
{
    for (int i = 0; i < 3; ++i)
        if (!(std::fabs(a[i] - b[i]) <= tolerance))
            return testing::AssertionFailure() << "component " << i << ": " << a[i] << " vs " << b[i];
    return testing::AssertionSuccess();
}

// q and -q are the same rotation.
testing::AssertionResult sameRotation(const kaQuatf& a, const kaQuatf& b, float tolerance)
{
    if (std::fabs(std::fabs(a.dot(b)) - 1.0f) <= tolerance) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "|a.b| = " << std::fabs(a.dot(b));
}

struct RandomSource {
    std::mt19937 engine{20240611u};
    float uniform(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(engine); }
    kaVec3f vec(float lo, float hi) { return {uniform(lo, hi), uniform(lo, hi), uniform(lo, hi)}; }
    kaQuatf rotation() { return kaQuatf(vec(-1.0f, 1.0f), uniform(-2.0f * kHalfPi, 2.0f * kHalfPi)); }
};

} // namespace

// Row vectors: a point times the matrix, translation in the last row, so that "a then b" is a * b.
TEST(MathMatrix, RowVectorConventions)
{
    kaMatrix44f translate, scale;
    translate.makeTranslation({10.0f, 20.0f, 30.0f});
    EXPECT_TRUE(translate.data()[12] == 10.0f && translate.data()[14] == 30.0f);
    scale.makeScale({2.0f, 3.0f, 4.0f});
    kaVec3f point, vector;
    // Scale then translate: both see the scale, only the point moves.
    point.transformPoint({1.0f, 1.0f, 1.0f}, scale * translate), vector.transformVector({1.0f, 1.0f, 1.0f}, scale * translate);
    EXPECT_TRUE(point == kaVec3f(12.0f, 23.0f, 34.0f) && vector == kaVec3f(2.0f, 3.0f, 4.0f));
    // Translate then scale scales the translation too.
    point.transformPoint(kaVec3f::ZeroVector, translate * scale);
    EXPECT_EQ(point, kaVec3f(20.0f, 60.0f, 120.0f));
    // A projective w divides the point.
    kaMatrix44f projective;
    projective.m[3][3] = 2.0f;
    point.transformPoint({4.0f, 6.0f, 8.0f}, projective);
    EXPECT_EQ(point, kaVec3f(2.0f, 3.0f, 4.0f));

    kaVec3f zero;
    EXPECT_TRUE(zero.normalize() == 0.0f && zero == kaVec3f::ZeroVector) << "a zero vector stays zero, no NaN";
}

TEST(MathMatrix, InverseOfWellConditionedMatricesIsExact)
{
    RandomSource random;
    const kaMatrix44f identity;
    for (int i = 0; i < 200; ++i) {
        // Odd ones general, projective column included; a diagonal boost keeps them well conditioned.
        kaMatrix44f m = compose(random.vec(-50.0f, 50.0f), random.rotation(), random.vec(0.25f, 4.0f));
        for (int e = 0; e < 16 && i % 2; ++e) m.m[e / 4][e % 4] = random.uniform(-1.0f, 1.0f) + (e % 5 == 0 ? 4.0f : 0.0f);
        kaMatrix44f inverse;
        ASSERT_TRUE(inverse.invert(m)) << "matrix " << i;
        EXPECT_TRUE(matricesNear(m * inverse, identity, 1e-4f)) << "matrix " << i;
        kaMatrix44f inPlace = m;
        ASSERT_TRUE(inPlace.invert(inPlace));
        EXPECT_TRUE(matricesNear(inPlace, inverse, 0.0f)) << "matrix " << i;
    }
}

TEST(MathMatrix, SingularMatricesFailAndLeaveIdentity)
{
    const kaMatrix44f identity;
    // Row 2 is row 0 plus row 1; row 1 a tenth of row 0, which floats cannot represent exactly;
    // a zero scale; a NaN.
    const kaMatrix44f dependent(1, 2, 3, 0, 4, 5, 6, 0, 5, 7, 9, 0, 1, 1, 1, 1);
    const kaMatrix44f scaled(0.3f, 0.7f, 1.1f, 0, 0.03f, 0.07f, 0.11f, 0, 0, 0, 1, 0, 2, 3, 4, 1);
    kaMatrix44f flat = compose({}, kaQuatf(), {1.0f, 0.0f, 1.0f}), nan;
    nan.m[1][2] = std::nanf("");
    for (const kaMatrix44f& m : {dependent, scaled, flat, nan}) {
        kaMatrix44f result(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
        EXPECT_TRUE(!result.invert(m) && result == identity);
    }
    // Close to singular but comfortably within float precision (condition number ~4000).
    kaMatrix44f result;
    const kaMatrix44f sheared(1, 1, 0, 0, 1, 1.0009765625f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    ASSERT_TRUE(result.invert(sheared));
    EXPECT_TRUE(matricesNear(sheared * result, identity, 1e-3f));
    // Tiny scale with a far translation is fine for an affine matrix: not singular.
    const kaMatrix44f far = compose({1e6f, -1e6f, 1e6f}, kaQuatf(), {1e-3f, 1e-3f, 1e-3f});
    ASSERT_TRUE(result.invert(far));
    EXPECT_TRUE(std::fabs(result.m[0][0] - 1e3f) <= 1e-3f && std::fabs(result.m[3][1] - 1e9f) <= 1e3f);
}

TEST(MathQuat, RotationsAgreeWithTheirMatricesAndCompose)
{
    // A quarter turn about z (the axis need not be unit length) takes x to y.
    const kaQuatf a(kaVec3f(0.0f, 0.0f, 2.0f), kHalfPi);
    kaMatrix44f ma, mb, mba;
    ma.makeRotation(a);
    kaVec3f p;
    p.transformVector({1.0f, 0.0f, 0.0f}, ma);
    EXPECT_TRUE(vectorsNear(p, {0.0f, 1.0f, 0.0f}, 1e-6f) && vectorsNear(a.rotate({1.0f, 0.0f, 0.0f}), p, 1e-6f));
    EXPECT_TRUE(sameRotation(kaQuatf(kaVec3f::ZeroVector, 1.0f), kaQuatf(), 0.0f));
    // Non-commuting pair: the order of the product is the order of the matrices.
    const kaQuatf b(kaVec3f(1.0f, 0.0f, 0.0f), kHalfPi);
    mb.makeRotation(b), mba.makeRotation(b * a);
    EXPECT_TRUE(matricesNear(mba, mb * ma, 1e-6f));
    EXPECT_FALSE(matricesNear(mba, ma * mb, 1e-3f));

    RandomSource random;
    for (int i = 0; i < 50; ++i) {
        const kaQuatf q = random.rotation(), r = random.rotation();
        const kaVec3f v = random.vec(-5.0f, 5.0f);
        kaVec3f viaMatrix;
        viaMatrix.transformVector(v, compose({}, q, {1.0f, 1.0f, 1.0f}) * compose({}, r, {1.0f, 1.0f, 1.0f}));
        EXPECT_TRUE(vectorsNear((q * r).rotate(v), viaMatrix, 1e-4f)) << i;
    }
}

TEST(MathTrs, ComposeIsScaleThenRotateThenTranslateAndDecomposes)
{
    // x is scaled by 2, turned onto y, then moved.
    kaVec3f p;
    p.transformPoint({1.0f, 0.0f, 0.0f}, compose({1.0f, 2.0f, 3.0f}, kaQuatf(kaVec3f(0, 0, 1), kHalfPi), {2.0f, 3.0f, 4.0f}));
    EXPECT_TRUE(vectorsNear(p, {1.0f, 4.0f, 3.0f}, 1e-6f));
    // Half turns have w == 0 and take the branches of the rotation's recovery that do not use the
    // trace.
    const kaQuatf halfTurns[] = {{kaVec3f(1, 0, 0), 2.0f * kHalfPi}, {kaVec3f(0, 1, 0), 2.0f * kHalfPi},
                                 {kaVec3f(0, 0, 1), 2.0f * kHalfPi}, {kaVec3f(1, 1, 0), 2.0f * kHalfPi}};
    RandomSource random;
    for (int i = 0; i < 100; ++i) {
        const kaVec3f t = random.vec(-100.0f, 100.0f);
        const kaQuatf r = i < 4 ? halfTurns[i] : random.rotation();
        kaVec3f s = random.vec(0.1f, 10.0f);
        if (i % 4 == 3 && i > 4) s.x = -s.x;  // mirrored
        const kaMatrix44f m = compose(t, r, s);
        kaVec3f t2, s2;
        kaQuatf r2;
        ASSERT_TRUE(decompose(m, t2, r2, s2)) << i;
        EXPECT_TRUE(t2 == t && vectorsNear(s2, s, 1e-4f)) << i;
        EXPECT_TRUE(s.x < 0.0f || sameRotation(r2, r, 1e-5f)) << i;
        // Mirrors may split differently between scale and rotation; the matrix must not change.
        EXPECT_TRUE(matricesNear(compose(t2, r2, s2), m, 1e-4f)) << i;
    }
}

TEST(MathTrs, DecomposeRejectsProjectiveAndFlatMatrices)
{
    kaVec3f t, s;
    kaQuatf r(1.0f, 0.0f, 0.0f, 0.0f);
    kaMatrix44f projective = compose({1.0f, 2.0f, 3.0f}, kaQuatf(), {1.0f, 1.0f, 1.0f});
    projective.m[2][3] = -1.0f;
    EXPECT_FALSE(decompose(projective, t, r, s));
    EXPECT_TRUE(t == kaVec3f(1.0f, 2.0f, 3.0f) && sameRotation(r, kaQuatf(), 0.0f));

    const kaMatrix44f flat = compose({}, kaQuatf(kaVec3f(1.0f, 1.0f, 0.0f), 0.5f), {1.0f, 0.0f, 2.0f});
    EXPECT_FALSE(decompose(flat, t, r, s));
    EXPECT_TRUE(vectorsNear(s, {1.0f, 0.0f, 2.0f}, 1e-6f));
}
