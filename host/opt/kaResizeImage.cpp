// The resizer behind the mipmap chains: a separable resampler over rows of float RGBA pixels.
// Each axis gets a table of weights once per call (a contiguous run of source pixels per target
// pixel, edges clamped by folding the weights that fall outside onto the edge pixel); rows are
// filtered across, kept in a small ring, and combined down. Colour is weighted by alpha while
// filtering and divided by the filtered alpha at the end, so that a transparent pixel's colour
// never bleeds into its visible neighbours.
#include "host/opt/kaResizeImage.h"

#include "host/gfx/kaPixelRows.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace Lode::Opt {

using namespace Lode::Gfx;

kaEnumMetaField* kaResizeImage::k_filterType = nullptr;
kaFloatMetaField* kaResizeImage::k_widthFactor = nullptr;
kaFloatMetaField* kaResizeImage::k_heightFactor = nullptr;
kaMetaEnum* kaResizeImage::FilterType_Meta = nullptr;

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaResizeImage)

kaMetaEnum* kaResizeImage::getFilterTypeMetaEnum()
{
    if (!FilterType_Meta) {
        static const char* const names[] = {"Point",      "Box",      "Triangle", "CubicBSpline",
                                            "CatmullRom", "Mitchell", "Lanczos3"};
        static const int32_t values[] = {Point, Box, Triangle, CubicBSpline, CatmullRom, Mitchell, Lanczos3};
        FilterType_Meta = kaMetaEnum::createMetaEnum("FilterType", names, values);
    }
    return FilterType_Meta;
}

void kaResizeImage::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(&k_filterType, KA_FIELD(kaResizeImage, _filterType), kDefaultFilterType, &getFilterTypeMetaEnum);
    fields.describe("resampling filter; when shrinking, its radius is stretched by the shrink ratio");
    fields.add(&k_widthFactor, KA_FIELD(kaResizeImage, _widthFactor), kDefaultWidthFactor);
    fields.describe("new width = old width x factor, whole part, at least 1; 1 leaves the width alone");
    fields.add(&k_heightFactor, KA_FIELD(kaResizeImage, _heightFactor), kDefaultHeightFactor);
    fields.describe("new height = old height x factor, whole part, at least 1; 1 leaves the height alone");
    fields.declare();
}

// ---- kernels ----

namespace {

double cubic(double x, double b, double c)
{
    x = std::fabs(x);
    if (x < 1.0) return ((12 - 9 * b - 6 * c) * x * x * x + (-18 + 12 * b + 6 * c) * x * x + (6 - 2 * b)) / 6;
    if (x < 2.0)
        return ((-b - 6 * c) * x * x * x + (6 * b + 30 * c) * x * x + (-12 * b - 48 * c) * x + (8 * b + 24 * c)) / 6;
    return 0.0;
}

double sinc(double x)
{
    if (x == 0.0) return 1.0;
    const double px = M_PI * x;
    return std::sin(px) / px;
}

} // namespace

double kaResizeImage::filterRadius(FilterType filter)
{
    switch (filter) {
    case Point:
    case Box: return 0.5;
    case Triangle: return 1.0;
    case CubicBSpline:
    case CatmullRom:
    case Mitchell: return 2.0;
    case Lanczos3: return 3.0;
    }
    return 0.0;
}

double kaResizeImage::filterWeight(FilterType filter, double x)
{
    switch (filter) {
    case Point:
    case Box: return x >= -0.5 && x < 0.5 ? 1.0 : 0.0;
    case Triangle: return std::max(0.0, 1.0 - std::fabs(x));
    case CubicBSpline: return cubic(x, 1.0, 0.0);
    case CatmullRom: return cubic(x, 0.0, 0.5);
    case Mitchell: return cubic(x, 1.0 / 3.0, 1.0 / 3.0);
    case Lanczos3: return std::fabs(x) < 3.0 ? sinc(x) * sinc(x / 3.0) : 0.0;
    }
    return 0.0;
}

int kaResizeImage::scaledSize(int size, float factor)
{
    if (size <= 0) return 0;
    // A hair of tolerance so that 0.5 x 6 is 3 even when the product lands just below.
    const double scaled = std::floor(double(size) * double(factor) + 1e-6);
    return static_cast<int>(std::clamp(scaled, 1.0, double(INT32_MAX / 8)));
}

// ---- resampling ----

namespace {

using v4 = float __attribute__((vector_size(16)));

// Float rows hold four channels per pixel and are padded to whole blocks of eight floats.
size_t paddedFloats(int pixels) { return (size_t(pixels) * 4 + 7) & ~size_t(7); }

// For each target pixel along one axis: the first source pixel and the weights of a run of
// consecutive source pixels from it.
struct WeightTable {
    std::vector<int> first;
    std::vector<int> count;
    std::vector<float> weights;  // count[i] entries at offset i * stride
    int stride = 0;

    const float* of(int target) const { return weights.data() + size_t(target) * stride; }
};

WeightTable makeWeightTable(int sourceSize, int targetSize, kaResizeImage::FilterType filter)
{
    WeightTable table;
    table.first.resize(targetSize);
    table.count.resize(targetSize);
    const double scale = double(sourceSize) / targetSize;  // source pixels per target pixel
    const double stretch = std::max(1.0, scale);
    const double radius = kaResizeImage::filterRadius(filter) * stretch;
    std::vector<std::vector<double>> runs(targetSize);
    for (int i = 0; i < targetSize; ++i) {
        const double center = (i + 0.5) * scale - 0.5;
        std::vector<double>& run = runs[i];
        if (filter == kaResizeImage::Point) {
            table.first[i] = std::clamp(static_cast<int>(std::floor(center + 0.5)), 0, sourceSize - 1);
            run.assign(1, 1.0);
            continue;
        }
        const int low = static_cast<int>(std::floor(center - radius));
        const int high = static_cast<int>(std::ceil(center + radius));
        const int first = std::clamp(low, 0, sourceSize - 1);
        const int last = std::clamp(high, 0, sourceSize - 1);
        run.assign(size_t(last - first + 1), 0.0);
        for (int j = low; j <= high; ++j)
            run[size_t(std::clamp(j, 0, sourceSize - 1) - first)] += kaResizeImage::filterWeight(filter, (j - center) / stretch);
        size_t begin = 0, end = run.size();
        while (begin < end && run[begin] == 0.0) ++begin;
        while (end > begin && run[end - 1] == 0.0) --end;
        double sum = 0.0;
        for (size_t k = begin; k < end; ++k) sum += run[k];
        if (begin == end || sum == 0.0) {
            // No weight reached a source pixel: take the nearest one.
            table.first[i] = std::clamp(static_cast<int>(std::floor(center + 0.5)), 0, sourceSize - 1);
            run.assign(1, 1.0);
            continue;
        }
        table.first[i] = first + static_cast<int>(begin);
        run = std::vector<double>(run.begin() + begin, run.begin() + end);
        for (double& weight : run) weight /= sum;
    }
    for (const auto& run : runs) table.stride = std::max(table.stride, static_cast<int>(run.size()));
    table.weights.assign(size_t(targetSize) * table.stride, 0.0f);
    for (int i = 0; i < targetSize; ++i) {
        table.count[i] = static_cast<int>(runs[i].size());
        for (size_t k = 0; k < runs[i].size(); ++k) table.weights[size_t(i) * table.stride + k] = float(runs[i][k]);
    }
    return table;
}

class Resampler {
public:
    Resampler(const kaImage& image, int targetWidth, int targetHeight, kaResizeImage::FilterType filter)
        : _image(image), _width(image.getWidth()), _height(image.getHeight()), _targetWidth(targetWidth),
          _targetHeight(targetHeight), _format(image.getFormat()), _hasAlpha(kaFormatHasAlpha(_format)),
          _direct(_format == KA_GFX_TEXTURE_FORMAT_RGBA_8)
    {
        if (_targetWidth != _width) _across = makeWeightTable(_width, _targetWidth, filter);
        if (_targetHeight != _height) _down = makeWeightTable(_height, _targetHeight, filter);
        _sourceFloats.assign(paddedFloats(_width), 0.0f);
        _bytes.assign(size_t(std::max(_width, _targetWidth)) * 4, 0);
        const int ringSize = _targetHeight != _height ? std::min(_down.stride, kMaxRing) : 1;
        _ring.assign(size_t(ringSize) * paddedFloats(_targetWidth), 0.0f);
        _ringRow.assign(size_t(ringSize), -1);
        _rows.assign(size_t(ringSize), nullptr);
        _sum.assign(paddedFloats(_targetWidth), 0.0f);
    }

    void run(uint8_t* target, size_t targetBytesPerRow)
    {
        const size_t rowFloats = paddedFloats(_targetWidth);
        for (int y = 0; y < _targetHeight; ++y) {
            if (_targetHeight == _height) {
                finishRow(acrossRow(y), target + size_t(y) * targetBytesPerRow);
                continue;
            }
            const int first = _down.first[y], count = _down.count[y];
            const float* weights = _down.of(y);
            float* sum = _sum.data();
            if (count <= static_cast<int>(_rows.size())) {
                // All rows of the run are in the ring at once: each block of the sum stays in registers.
                for (int k = 0; k < count; ++k) _rows[k] = acrossRow(first + k);
                for (size_t x = 0; x < rowFloats; x += 8) {
                    v4 low = weights[0] * load4(_rows[0] + x), high = weights[0] * load4(_rows[0] + x + 4);
                    for (int k = 1; k < count; ++k) {
                        low += weights[k] * load4(_rows[k] + x);
                        high += weights[k] * load4(_rows[k] + x + 4);
                    }
                    std::memcpy(sum + x, &low, sizeof low);
                    std::memcpy(sum + x + 4, &high, sizeof high);
                }
            } else {
                // Long runs of a steep shrink: rows are added one by one.
                std::fill(_sum.begin(), _sum.end(), 0.0f);
                for (int k = 0; k < count; ++k) {
                    const float* row = acrossRow(first + k);
                    for (size_t x = 0; x < rowFloats; ++x) sum[x] += weights[k] * row[x];
                }
            }
            finishRow(sum, target + size_t(y) * targetBytesPerRow);
        }
    }

private:
    // Rows filtered across are kept for reuse by the next target rows, up to this many.
    static constexpr int kMaxRing = 32;

    static v4 load4(const float* p)
    {
        v4 value;
        std::memcpy(&value, p, sizeof value);
        return value;
    }

    // Source row y as float RGBA with colour weighted by alpha (0..255 scale).
    const float* sourceRow(int y)
    {
        const uint8_t* row = _image.pixelData() + size_t(y) * _image.getBytesPerRow();
        if (!_direct) {
            kaUnpackRow(row, _width, _format, _image.getOrder(), nullptr, 0, _bytes.data());
            row = _bytes.data();
        }
        float* out = _sourceFloats.data();
        const size_t n = size_t(_width) * 4;
        for (size_t i = 0; i < n; ++i) out[i] = row[i];
        if (_hasAlpha) {
            for (int x = 0; x < _width; ++x) {
                float* p = out + size_t(x) * 4;
                const float a = p[3] * (1.0f / 255.0f);
                p[0] *= a, p[1] *= a, p[2] *= a;
            }
        }
        return out;
    }

    // Source row y filtered across, from the ring when it is there already.
    const float* acrossRow(int y)
    {
        const size_t slot = size_t(y) % _ringRow.size();
        float* out = _ring.data() + slot * paddedFloats(_targetWidth);
        if (_ringRow[slot] == y) return out;
        _ringRow[slot] = y;
        const float* source = sourceRow(y);
        if (_targetWidth == _width) {
            std::memcpy(out, source, size_t(_width) * 4 * sizeof(float));
            return out;
        }
        for (int x = 0; x < _targetWidth; ++x) {
            const float* weights = _across.of(x);
            const float* in = source + size_t(_across.first[x]) * 4;
            const int count = _across.count[x];
            v4 sum = weights[0] * load4(in);
            for (int k = 1; k < count; ++k) sum += weights[k] * load4(in + size_t(k) * 4);
            std::memcpy(out + size_t(x) * 4, &sum, sizeof sum);
        }
        return out;
    }

    // Divides colour by alpha again, rounds to 8 bits and writes the row in the image's format.
    void finishRow(const float* row, uint8_t* target)
    {
        uint8_t* bytes = _direct ? target : _bytes.data();
        for (int x = 0; x < _targetWidth; ++x) {
            v4 p = load4(row + size_t(x) * 4);
            if (_hasAlpha) {
                const float alpha = p[3];
                const float unweight = alpha > 1e-3f ? 255.0f / alpha : 0.0f;
                p *= unweight;
                p[3] = alpha;
            }
            p = p < 0.0f ? 0.0f : p;
            p = p > 255.0f ? 255.0f : p;
            p += 0.5f;
            uint8_t* out = bytes + size_t(x) * 4;
            out[0] = static_cast<uint8_t>(p[0]);
            out[1] = static_cast<uint8_t>(p[1]);
            out[2] = static_cast<uint8_t>(p[2]);
            out[3] = static_cast<uint8_t>(p[3]);
        }
        if (!_direct) kaPackRow(bytes, _targetWidth, _format, _image.getOrder(), target);
    }

    const kaImage& _image;
    int _width, _height, _targetWidth, _targetHeight;
    KA_GFX_TEXTURE_FORMAT _format;
    bool _hasAlpha;
    bool _direct;  // RGBA8 rows are read and written as they are
    WeightTable _across, _down;
    std::vector<float> _sourceFloats, _ring, _sum;
    std::vector<int> _ringRow;
    std::vector<const float*> _rows;
    std::vector<uint8_t> _bytes;
};

} // namespace

bool kaResizeImage::scale(kaImage* image) const
{
    if (!image || image->isIndexed() || kaGetBytesPerPixel(image->getFormat()) == 0) return false;
    if (!(std::isfinite(_widthFactor) && _widthFactor > 0.0f && std::isfinite(_heightFactor) && _heightFactor > 0.0f))
        return false;
    if (_filterType < Point || _filterType > Lanczos3) return false;
    const int width = image->getWidth(), height = image->getHeight();
    if (width == 0 || height == 0) return true;
    const int targetWidth = scaledSize(width, _widthFactor), targetHeight = scaledSize(height, _heightFactor);
    if (targetWidth == width && targetHeight == height) return true;

    Resampler resampler(*image, targetWidth, targetHeight, getFilterType());
    const size_t bytesPerRow = size_t(targetWidth) * kaGetBytesPerPixel(image->getFormat());
    Lode::Core::kaBlock<uint8_t> pixels(bytesPerRow * targetHeight);
    resampler.run(pixels.data(), bytesPerRow);
    image->replacePixels(targetWidth, targetHeight, std::move(pixels));
    return true;
}

} // namespace Lode::Opt
