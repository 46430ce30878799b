// kaResizeImage: the host's image resizer, a pass that other passes create by class name to
// resample an image in place by a width and a height factor with a chosen filter.
#pragma once

#include "host/gfx/kaImage.h"
#include "host/opt/kaOptBase.h"

namespace Lode::Opt {

using Lode::Gfx::kaImage;

class kaResizeImage : public kaOptBase {
    KA_DECLARE_CLASS(kaResizeImage, kaOptBase)
public:
    // Resampling filters, from the cheapest to the sharpest. Each is a kernel of a given radius
    // in source pixels; when shrinking, the kernel is stretched by the shrink ratio.
    enum FilterType : int32_t {
        Point = 0,         // nearest source pixel
        Box = 1,           // radius 0.5: plain average (2x2 when halving)
        Triangle = 2,      // radius 1: bilinear
        CubicBSpline = 3,  // radius 2, B=1 C=0: smooth, soft
        CatmullRom = 4,    // radius 2, B=0 C=0.5: sharp, interpolating
        Mitchell = 5,      // radius 2, B=C=1/3
        Lanczos3 = 6,      // radius 3, windowed sinc: the sharpest, least aliasing
    };
    static kaMetaEnum* getFilterTypeMetaEnum();
    static kaMetaEnum* FilterType_Meta;

    // The kernel and its radius (in source pixels before stretching), in double precision.
    static double filterRadius(FilterType filter);
    static double filterWeight(FilterType filter, double distance);
    // The size a dimension takes when scaled by factor: the whole part of size × factor, and at
    // least 1 for a non-empty image (0 stays 0).
    static int scaledSize(int size, float factor);

    FilterType getFilterType() const { return static_cast<FilterType>(_filterType); }
    void setFilterType(FilterType filter) { _filterType = filter; }
    float getWidthFactor() const { return _widthFactor; }
    void setWidthFactor(float factor) { _widthFactor = factor; }
    float getHeightFactor() const { return _heightFactor; }
    void setHeightFactor(float factor) { _heightFactor = factor; }

    // Resamples the image in place to scaledSize of each dimension: separable, edges clamped,
    // colour weighted by alpha (so that transparent pixels lend no colour), 8-bit results
    // rounded. Any format but the palettised one; the format and order stay. False, with the
    // image unchanged, for a palettised or formatless image, a factor that is not a positive
    // finite number, or an unknown filter. An image without pixels stays as it is (true).
    bool scale(kaImage* image) const;

    static kaEnumMetaField* k_filterType;
    static kaFloatMetaField* k_widthFactor;
    static kaFloatMetaField* k_heightFactor;

protected:
    kaResizeImage() = default;

private:
    static constexpr FilterType kDefaultFilterType = Lanczos3;
    static constexpr float kDefaultWidthFactor = 0.5f;
    static constexpr float kDefaultHeightFactor = 0.5f;

    int32_t _filterType = kDefaultFilterType;
    float _widthFactor = kDefaultWidthFactor;
    float _heightFactor = kDefaultHeightFactor;
};

} // namespace Lode::Opt
