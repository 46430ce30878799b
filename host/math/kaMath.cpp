#include "host/math/kaMath.h"

#include <cfloat>

namespace Lode::Math {

const kaVec3f kaVec3f::ZeroVector{0.0f, 0.0f, 0.0f};

// ---- vectors ----

float kaVec2f::normalize()
{
    const float len = length();
    if (len > 0.0f)
        *this *= 1.0f / len;
    return len;
}

float kaVec3f::normalize()
{
    const float len = length();
    if (len > 0.0f)
        *this *= 1.0f / len;
    return len;
}

float kaVec4f::normalize()
{
    const float len = length();
    if (len > 0.0f)
        *this *= 1.0f / len;
    return len;
}

void kaVec3f::transformPoint(const kaVec3f& p, const kaMatrix44f& mat)
{
    const auto& m = mat.m;
    const float px = p.x, py = p.y, pz = p.z;
    const float rx = px * m[0][0] + py * m[1][0] + pz * m[2][0] + m[3][0];
    const float ry = px * m[0][1] + py * m[1][1] + pz * m[2][1] + m[3][1];
    const float rz = px * m[0][2] + py * m[1][2] + pz * m[2][2] + m[3][2];
    const float rw = px * m[0][3] + py * m[1][3] + pz * m[2][3] + m[3][3];
    // w == 0 is a point at infinity; leave it undivided rather than produce infinities.
    if (rw != 1.0f && rw != 0.0f) {
        const float inv = 1.0f / rw;
        set(rx * inv, ry * inv, rz * inv);
    } else {
        set(rx, ry, rz);
    }
}

void kaVec3f::transformVector(const kaVec3f& v, const kaMatrix44f& mat)
{
    const auto& m = mat.m;
    const float vx = v.x, vy = v.y, vz = v.z;
    set(vx * m[0][0] + vy * m[1][0] + vz * m[2][0],
        vx * m[0][1] + vy * m[1][1] + vz * m[2][1],
        vx * m[0][2] + vy * m[1][2] + vz * m[2][2]);
}

void kaVec4f::transform(const kaVec4f& v, const kaMatrix44f& mat)
{
    const auto& m = mat.m;
    const kaVec4f s = v;
    for (int c = 0; c < 4; ++c)
        (*this)[c] = s.x * m[0][c] + s.y * m[1][c] + s.z * m[2][c] + s.w * m[3][c];
}

// ---- matrix ----

kaMatrix44f::kaMatrix44f(float m00, float m01, float m02, float m03,
                         float m10, float m11, float m12, float m13,
                         float m20, float m21, float m22, float m23,
                         float m30, float m31, float m32, float m33)
    : m{{m00, m01, m02, m03}, {m10, m11, m12, m13}, {m20, m21, m22, m23}, {m30, m31, m32, m33}}
{
}

void kaMatrix44f::makeIdentity()
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m[r][c] = r == c ? 1.0f : 0.0f;
}

void kaMatrix44f::makeTranslation(const kaVec3f& t)
{
    makeIdentity();
    setTranslation(t);
}

void kaMatrix44f::makeScale(const kaVec3f& s)
{
    makeIdentity();
    m[0][0] = s.x;
    m[1][1] = s.y;
    m[2][2] = s.z;
}

void kaMatrix44f::makeRotation(const kaQuatf& q)
{
    const float xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z;
    const float xy = q.x * q.y, xz = q.x * q.z, yz = q.y * q.z;
    const float wx = q.w * q.x, wy = q.w * q.y, wz = q.w * q.z;
    makeIdentity();
    // Row i is where the i-th axis goes (row vectors), hence the transpose of the usual
    // column-vector form.
    m[0][0] = 1.0f - 2.0f * (yy + zz);
    m[0][1] = 2.0f * (xy + wz);
    m[0][2] = 2.0f * (xz - wy);
    m[1][0] = 2.0f * (xy - wz);
    m[1][1] = 1.0f - 2.0f * (xx + zz);
    m[1][2] = 2.0f * (yz + wx);
    m[2][0] = 2.0f * (xz + wy);
    m[2][1] = 2.0f * (yz - wx);
    m[2][2] = 1.0f - 2.0f * (xx + yy);
}

kaMatrix44f kaMatrix44f::operator*(const kaMatrix44f& other) const
{
    kaMatrix44f result;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            result.m[r][c] = m[r][0] * other.m[0][c] + m[r][1] * other.m[1][c] +
                             m[r][2] * other.m[2][c] + m[r][3] * other.m[3][c];
    return result;
}

bool kaMatrix44f::operator==(const kaMatrix44f& other) const
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (m[r][c] != other.m[r][c])
                return false;
    return true;
}

bool kaMatrix44f::invert(const kaMatrix44f& src)
{
    const auto& a = src.m;
    // Laplace expansion along the top two rows against the bottom two: the 2x2 minors are
    // shared between the determinant and the adjugate.
    const float s0 = a[0][0] * a[1][1] - a[1][0] * a[0][1];
    const float s1 = a[0][0] * a[1][2] - a[1][0] * a[0][2];
    const float s2 = a[0][0] * a[1][3] - a[1][0] * a[0][3];
    const float s3 = a[0][1] * a[1][2] - a[1][1] * a[0][2];
    const float s4 = a[0][1] * a[1][3] - a[1][1] * a[0][3];
    const float s5 = a[0][2] * a[1][3] - a[1][2] * a[0][3];
    const float c5 = a[2][2] * a[3][3] - a[3][2] * a[2][3];
    const float c4 = a[2][1] * a[3][3] - a[3][1] * a[2][3];
    const float c3 = a[2][1] * a[3][2] - a[3][1] * a[2][2];
    const float c2 = a[2][0] * a[3][3] - a[3][0] * a[2][3];
    const float c1 = a[2][0] * a[3][2] - a[3][0] * a[2][2];
    const float c0 = a[2][0] * a[3][1] - a[3][0] * a[2][1];
    const float det = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;

    // The same sum over magnitudes bounds the rounding error of det. A det inside that bound
    // has no correct digits: the matrix is singular as far as floats can tell. Scale-relative,
    // so tiny scales or huge translations alone do not count as singular.
    auto mag = [&](int r0, int c0_, int r1, int c1_) {
        return std::fabs(a[r0][c0_] * a[r1][c1_]) + std::fabs(a[r1][c0_] * a[r0][c1_]);
    };
    const float bound = mag(0, 0, 1, 1) * mag(2, 2, 3, 3) + mag(0, 0, 1, 2) * mag(2, 1, 3, 3) +
                        mag(0, 0, 1, 3) * mag(2, 1, 3, 2) + mag(0, 1, 1, 2) * mag(2, 0, 3, 3) +
                        mag(0, 1, 1, 3) * mag(2, 0, 3, 2) + mag(0, 2, 1, 3) * mag(2, 0, 3, 1);
    // Written so that NaN and infinity fail too.
    if (!(std::fabs(det) > 16.0f * FLT_EPSILON * bound) || !std::isfinite(det)) {
        makeIdentity();
        return false;
    }

    const float inv = 1.0f / det;
    const kaMatrix44f b(
        (a[1][1] * c5 - a[1][2] * c4 + a[1][3] * c3) * inv,
        (-a[0][1] * c5 + a[0][2] * c4 - a[0][3] * c3) * inv,
        (a[3][1] * s5 - a[3][2] * s4 + a[3][3] * s3) * inv,
        (-a[2][1] * s5 + a[2][2] * s4 - a[2][3] * s3) * inv,

        (-a[1][0] * c5 + a[1][2] * c2 - a[1][3] * c1) * inv,
        (a[0][0] * c5 - a[0][2] * c2 + a[0][3] * c1) * inv,
        (-a[3][0] * s5 + a[3][2] * s2 - a[3][3] * s1) * inv,
        (a[2][0] * s5 - a[2][2] * s2 + a[2][3] * s1) * inv,

        (a[1][0] * c4 - a[1][1] * c2 + a[1][3] * c0) * inv,
        (-a[0][0] * c4 + a[0][1] * c2 - a[0][3] * c0) * inv,
        (a[3][0] * s4 - a[3][1] * s2 + a[3][3] * s0) * inv,
        (-a[2][0] * s4 + a[2][1] * s2 - a[2][3] * s0) * inv,

        (-a[1][0] * c3 + a[1][1] * c1 - a[1][2] * c0) * inv,
        (a[0][0] * c3 - a[0][1] * c1 + a[0][2] * c0) * inv,
        (-a[3][0] * s3 + a[3][1] * s1 - a[3][2] * s0) * inv,
        (a[2][0] * s3 - a[2][1] * s1 + a[2][2] * s0) * inv);
    *this = b;
    return true;
}

void kaMatrix44f::transpose()
{
    for (int r = 0; r < 4; ++r)
        for (int c = r + 1; c < 4; ++c) {
            const float t = m[r][c];
            m[r][c] = m[c][r];
            m[c][r] = t;
        }
}

void kaMatrix44f::transpose(const kaMatrix44f& src)
{
    if (&src != this)
        *this = src;
    transpose();
}

// ---- quaternion ----

void kaQuatf::setAxisAngle(const kaVec3f& axis, float angle)
{
    const float len = axis.length();
    if (!(len > 0.0f)) {
        set(0.0f, 0.0f, 0.0f, 1.0f);
        return;
    }
    const float s = std::sin(0.5f * angle) / len;
    set(axis.x * s, axis.y * s, axis.z * s, std::cos(0.5f * angle));
}

void kaQuatf::setFromMatrix(const kaMatrix44f& mat)
{
    const auto& m = mat.m;
    const float trace = m[0][0] + m[1][1] + m[2][2];
    // Take the root of the largest of w, x, y, z so the divisions stay well away from zero.
    if (trace > 0.0f) {
        const float s = 2.0f * std::sqrt(trace + 1.0f);
        set((m[1][2] - m[2][1]) / s, (m[2][0] - m[0][2]) / s, (m[0][1] - m[1][0]) / s, 0.25f * s);
    } else if (m[0][0] > m[1][1] && m[0][0] > m[2][2]) {
        const float s = 2.0f * std::sqrt(1.0f + m[0][0] - m[1][1] - m[2][2]);
        set(0.25f * s, (m[0][1] + m[1][0]) / s, (m[0][2] + m[2][0]) / s, (m[1][2] - m[2][1]) / s);
    } else if (m[1][1] > m[2][2]) {
        const float s = 2.0f * std::sqrt(1.0f + m[1][1] - m[0][0] - m[2][2]);
        set((m[0][1] + m[1][0]) / s, 0.25f * s, (m[1][2] + m[2][1]) / s, (m[2][0] - m[0][2]) / s);
    } else {
        const float s = 2.0f * std::sqrt(1.0f + m[2][2] - m[0][0] - m[1][1]);
        set((m[0][2] + m[2][0]) / s, (m[1][2] + m[2][1]) / s, 0.25f * s, (m[0][1] - m[1][0]) / s);
    }
    normalize();
}

kaQuatf kaQuatf::operator*(const kaQuatf& q) const
{
    // Hamilton product q * this: rotating by this first, then by q.
    const kaQuatf& a = *this;
    return {q.w * a.x + a.w * q.x + (q.y * a.z - q.z * a.y),
            q.w * a.y + a.w * q.y + (q.z * a.x - q.x * a.z),
            q.w * a.z + a.w * q.z + (q.x * a.y - q.y * a.x),
            q.w * a.w - (q.x * a.x + q.y * a.y + q.z * a.z)};
}

void kaQuatf::normalize()
{
    const float len = length();
    if (!(len > 0.0f)) {
        set(0.0f, 0.0f, 0.0f, 1.0f);
        return;
    }
    const float inv = 1.0f / len;
    set(x * inv, y * inv, z * inv, w * inv);
}

kaVec3f kaQuatf::rotate(const kaVec3f& v) const
{
    const kaVec3f u(x, y, z);
    const kaVec3f t = u.cross(v) * 2.0f;
    return v + t * w + u.cross(t);
}

void kaQuatf::slerp(const kaQuatf& a, const kaQuatf& b, float t)
{
    const kaQuatf from = a;
    kaQuatf to = b;
    float cosAngle = from.dot(to);
    // q and -q are the same rotation; pick the one on the near side.
    if (cosAngle < 0.0f) {
        to.set(-to.x, -to.y, -to.z, -to.w);
        cosAngle = -cosAngle;
    }
    float wa, wb;
    if (cosAngle > 0.9995f) {
        // Nearly parallel: sin(angle) is too small to divide by, and a straight blend is
        // indistinguishable anyway.
        wa = 1.0f - t;
        wb = t;
    } else {
        const float angle = std::acos(cosAngle);
        const float invSin = 1.0f / std::sin(angle);
        wa = std::sin((1.0f - t) * angle) * invSin;
        wb = std::sin(t * angle) * invSin;
    }
    set(wa * from.x + wb * to.x, wa * from.y + wb * to.y, wa * from.z + wb * to.z,
        wa * from.w + wb * to.w);
    normalize();
}

// ---- TRS ----

kaMatrix44f compose(const kaVec3f& translation, const kaQuatf& rotation, const kaVec3f& scale)
{
    kaMatrix44f result;
    result.makeRotation(rotation);
    // Scale applied before rotation (row vectors): row i of the rotation times scale i.
    for (int c = 0; c < 3; ++c) {
        result.m[0][c] *= scale.x;
        result.m[1][c] *= scale.y;
        result.m[2][c] *= scale.z;
    }
    result.setTranslation(translation);
    return result;
}

bool decompose(const kaMatrix44f& matrix, kaVec3f& translation, kaQuatf& rotation, kaVec3f& scale)
{
    const auto& m = matrix.m;
    matrix.getTranslation(translation);
    kaVec3f rows[3] = {{m[0][0], m[0][1], m[0][2]}, {m[1][0], m[1][1], m[1][2]}, {m[2][0], m[2][1], m[2][2]}};
    scale.set(rows[0].length(), rows[1].length(), rows[2].length());
    rotation.set(0.0f, 0.0f, 0.0f, 1.0f);

    const float tolerance = 1e-6f;
    const bool affine = std::fabs(m[0][3]) <= tolerance && std::fabs(m[1][3]) <= tolerance &&
                        std::fabs(m[2][3]) <= tolerance && std::fabs(m[3][3] - 1.0f) <= tolerance;
    if (!affine || !(scale.x > 0.0f) || !(scale.y > 0.0f) || !(scale.z > 0.0f))
        return false;

    // A rotation cannot mirror; fold the mirror into one scale so compose gives it back.
    if (rows[0].dot(rows[1].cross(rows[2])) < 0.0f)
        scale.x = -scale.x;
    kaMatrix44f pure;
    for (int r = 0; r < 3; ++r) {
        const kaVec3f axis = rows[r] * (1.0f / scale[r]);
        for (int c = 0; c < 3; ++c)
            pure.m[r][c] = axis[c];
    }
    rotation.setFromMatrix(pure);
    return true;
}

} // namespace Lode::Math
