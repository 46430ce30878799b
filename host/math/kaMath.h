// Single-precision value types for scene transforms. Matrices use the row-vector convention:
// a point transforms as p * M, translation sits in row 3, and A * B applies A first.
// The vector and matrix types are plain float arrays in memory, so reflection can expose them
// as inline float fields and files can read and write them as raw floats.
#pragma once

#include <cassert>
#include <cmath>
#include <cstddef>
#include <type_traits>

namespace Lode::Math {

class kaMatrix44f;
class kaQuatf;

class kaVec2f {
public:
    float x = 0.0f;
    float y = 0.0f;

    kaVec2f() = default;
    kaVec2f(float ax, float ay) : x(ax), y(ay) {}

    void set(float ax, float ay) { x = ax; y = ay; }
    void set(const kaVec2f& v) { *this = v; }

    float& operator[](int i) { assert(i >= 0 && i < 2); return i == 0 ? x : y; }
    float operator[](int i) const { assert(i >= 0 && i < 2); return i == 0 ? x : y; }

    kaVec2f operator+(const kaVec2f& v) const { return {x + v.x, y + v.y}; }
    kaVec2f operator-(const kaVec2f& v) const { return {x - v.x, y - v.y}; }
    kaVec2f operator-() const { return {-x, -y}; }
    kaVec2f operator*(float s) const { return {x * s, y * s}; }
    kaVec2f& operator+=(const kaVec2f& v) { x += v.x; y += v.y; return *this; }
    kaVec2f& operator-=(const kaVec2f& v) { x -= v.x; y -= v.y; return *this; }
    kaVec2f& operator*=(float s) { x *= s; y *= s; return *this; }
    bool operator==(const kaVec2f& v) const { return x == v.x && y == v.y; }
    bool operator!=(const kaVec2f& v) const { return !(*this == v); }

    float dot(const kaVec2f& v) const { return x * v.x + y * v.y; }
    float length() const { return std::sqrt(dot(*this)); }
    float distance(const kaVec2f& v) const { return (*this - v).length(); }
    // Scales to unit length and returns the length it had; a zero vector stays zero.
    float normalize();
};

class kaVec3f {
public:
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    static const kaVec3f ZeroVector;

    kaVec3f() = default;
    kaVec3f(float ax, float ay, float az) : x(ax), y(ay), z(az) {}
    explicit kaVec3f(const float (&values)[3]) : x(values[0]), y(values[1]), z(values[2]) {}

    void set(float ax, float ay, float az) { x = ax; y = ay; z = az; }
    void set(const kaVec3f& v) { *this = v; }

    float& operator[](int i) { assert(i >= 0 && i < 3); return i == 0 ? x : (i == 1 ? y : z); }
    float operator[](int i) const { assert(i >= 0 && i < 3); return i == 0 ? x : (i == 1 ? y : z); }

    kaVec3f operator+(const kaVec3f& v) const { return {x + v.x, y + v.y, z + v.z}; }
    kaVec3f operator-(const kaVec3f& v) const { return {x - v.x, y - v.y, z - v.z}; }
    kaVec3f operator-() const { return {-x, -y, -z}; }
    kaVec3f operator*(float s) const { return {x * s, y * s, z * s}; }
    kaVec3f& operator+=(const kaVec3f& v) { x += v.x; y += v.y; z += v.z; return *this; }
    kaVec3f& operator-=(const kaVec3f& v) { x -= v.x; y -= v.y; z -= v.z; return *this; }
    kaVec3f& operator*=(float s) { x *= s; y *= s; z *= s; return *this; }
    bool operator==(const kaVec3f& v) const { return x == v.x && y == v.y && z == v.z; }
    bool operator!=(const kaVec3f& v) const { return !(*this == v); }

    float dot(const kaVec3f& v) const { return x * v.x + y * v.y + z * v.z; }
    kaVec3f cross(const kaVec3f& v) const
    {
        return {y * v.z - z * v.y, z * v.x - x * v.z, x * v.y - y * v.x};
    }
    float length() const { return std::sqrt(dot(*this)); }
    float distance(const kaVec3f& v) const { return (*this - v).length(); }
    // Scales to unit length and returns the length it had; a zero vector stays zero.
    float normalize();

    // *this = p * m. Projective matrices divide by the resulting w; affine ones leave w at 1.
    // p may be *this.
    void transformPoint(const kaVec3f& p, const kaMatrix44f& m);
    // *this = v * m without translation, for directions and offsets. v may be *this.
    void transformVector(const kaVec3f& v, const kaMatrix44f& m);
};

inline kaVec3f operator*(float s, const kaVec3f& v) { return v * s; }

class kaVec4f {
public:
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 0.0f;

    kaVec4f() = default;
    kaVec4f(float ax, float ay, float az, float aw) : x(ax), y(ay), z(az), w(aw) {}
    explicit kaVec4f(const float (&values)[4]) : x(values[0]), y(values[1]), z(values[2]), w(values[3]) {}
    kaVec4f(const kaVec3f& v, float aw) : x(v.x), y(v.y), z(v.z), w(aw) {}

    void set(float ax, float ay, float az, float aw) { x = ax; y = ay; z = az; w = aw; }
    void set(const kaVec4f& v) { *this = v; }

    float& operator[](int i)
    {
        assert(i >= 0 && i < 4);
        return i == 0 ? x : (i == 1 ? y : (i == 2 ? z : w));
    }
    float operator[](int i) const
    {
        assert(i >= 0 && i < 4);
        return i == 0 ? x : (i == 1 ? y : (i == 2 ? z : w));
    }

    kaVec4f operator+(const kaVec4f& v) const { return {x + v.x, y + v.y, z + v.z, w + v.w}; }
    kaVec4f operator-(const kaVec4f& v) const { return {x - v.x, y - v.y, z - v.z, w - v.w}; }
    kaVec4f operator-() const { return {-x, -y, -z, -w}; }
    kaVec4f operator*(float s) const { return {x * s, y * s, z * s, w * s}; }
    kaVec4f& operator+=(const kaVec4f& v) { x += v.x; y += v.y; z += v.z; w += v.w; return *this; }
    kaVec4f& operator-=(const kaVec4f& v) { x -= v.x; y -= v.y; z -= v.z; w -= v.w; return *this; }
    kaVec4f& operator*=(float s) { x *= s; y *= s; z *= s; w *= s; return *this; }
    bool operator==(const kaVec4f& v) const { return x == v.x && y == v.y && z == v.z && w == v.w; }
    bool operator!=(const kaVec4f& v) const { return !(*this == v); }

    float dot(const kaVec4f& v) const { return x * v.x + y * v.y + z * v.z + w * v.w; }
    float length() const { return std::sqrt(dot(*this)); }
    // Scales to unit length and returns the length it had; a zero vector stays zero.
    float normalize();
    kaVec3f xyz() const { return {x, y, z}; }

    // *this = v * m, all four components. v may be *this.
    void transform(const kaVec4f& v, const kaMatrix44f& m);
};

class kaMatrix44f {
public:
    float m[4][4];

    kaMatrix44f() { makeIdentity(); }
    // Row by row: the first four values are row 0.
    kaMatrix44f(float m00, float m01, float m02, float m03,
                float m10, float m11, float m12, float m13,
                float m20, float m21, float m22, float m23,
                float m30, float m31, float m32, float m33);

    float* data() { return &m[0][0]; }
    const float* data() const { return &m[0][0]; }

    void makeIdentity();
    void makeTranslation(const kaVec3f& t);
    void makeScale(const kaVec3f& s);
    // q should be unit length; only the upper 3x3 is written, the rest becomes identity.
    void makeRotation(const kaQuatf& q);

    // Composition: (A * B) applies A first, then B.
    kaMatrix44f operator*(const kaMatrix44f& other) const;
    kaMatrix44f& operator*=(const kaMatrix44f& other) { return *this = *this * other; }
    bool operator==(const kaMatrix44f& other) const;
    bool operator!=(const kaMatrix44f& other) const { return !(*this == other); }

    // *this becomes the inverse of src (src may be *this). When src is singular, or too close
    // to singular for single precision to give a usable inverse, *this becomes identity and
    // the result is false.
    bool invert(const kaMatrix44f& src);
    void transpose();
    // *this becomes src transposed (src may be *this).
    void transpose(const kaMatrix44f& src);

    void getTranslation(kaVec3f& t) const { t.set(m[3][0], m[3][1], m[3][2]); }
    void setTranslation(const kaVec3f& t) { m[3][0] = t.x; m[3][1] = t.y; m[3][2] = t.z; }
};

class kaQuatf {
public:
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 1.0f;

    kaQuatf() = default;
    kaQuatf(float ax, float ay, float az, float aw) : x(ax), y(ay), z(az), w(aw) {}
    // A rotation of angle radians about axis (any non-zero length).
    kaQuatf(const kaVec3f& axis, float angle) { setAxisAngle(axis, angle); }

    void set(float ax, float ay, float az, float aw) { x = ax; y = ay; z = az; w = aw; }
    // A zero axis gives identity.
    void setAxisAngle(const kaVec3f& axis, float angle);
    // Reads the rotation in the upper 3x3, which must be orthonormal (no scale or shear).
    void setFromMatrix(const kaMatrix44f& m);
    void getMatrix(kaMatrix44f& m) const { m.makeRotation(*this); }

    // Composition matching the matrices: (a * b) rotates by a first, then by b.
    kaQuatf operator*(const kaQuatf& q) const;
    kaQuatf& operator*=(const kaQuatf& q) { return *this = *this * q; }

    float dot(const kaQuatf& q) const { return x * q.x + y * q.y + z * q.z + w * q.w; }
    float length() const { return std::sqrt(dot(*this)); }
    // A zero quaternion becomes identity.
    void normalize();
    kaQuatf conjugate() const { return {-x, -y, -z, w}; }
    // Rotates v by this (unit) quaternion.
    kaVec3f rotate(const kaVec3f& v) const;

    // *this becomes the spherical interpolation from a (t = 0) to b (t = 1) along the shorter
    // arc. a and b should be unit length; *this may be either of them.
    void slerp(const kaQuatf& a, const kaQuatf& b, float t);
};

// Scale, then rotate, then translate.
kaMatrix44f compose(const kaVec3f& translation, const kaQuatf& rotation, const kaVec3f& scale);
// The reverse of compose for affine matrices without shear. A mirroring matrix comes back with
// a negative x scale. False when the matrix is not affine or a scale is zero; the parts that
// could be read are still written and the rotation is then identity.
bool decompose(const kaMatrix44f& matrix, kaVec3f& translation, kaQuatf& rotation, kaVec3f& scale);

// Reflection and file I/O treat these as bare float arrays.
static_assert(std::is_standard_layout_v<kaVec2f> && sizeof(kaVec2f) == 2 * sizeof(float));
static_assert(std::is_standard_layout_v<kaVec3f> && sizeof(kaVec3f) == 3 * sizeof(float));
static_assert(std::is_standard_layout_v<kaVec4f> && sizeof(kaVec4f) == 4 * sizeof(float));
static_assert(std::is_standard_layout_v<kaMatrix44f> && sizeof(kaMatrix44f) == 16 * sizeof(float));
static_assert(std::is_standard_layout_v<kaQuatf> && sizeof(kaQuatf) == 4 * sizeof(float));
static_assert(std::is_trivially_copyable_v<kaVec3f> && std::is_trivially_copyable_v<kaMatrix44f>);
static_assert(offsetof(kaVec3f, z) == 2 * sizeof(float) && offsetof(kaVec4f, w) == 3 * sizeof(float));

} // namespace Lode::Math
