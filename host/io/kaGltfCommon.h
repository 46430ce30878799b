// What the glTF importer and exporter share: the mapping of primitive modes and sampler filters,
// the extensions this host understands, image decoding, and the warnings that name what a
// conversion had to drop. Internal to host/io.
#pragma once

#include "host/gfx/kaGfxEnums.h"
#include "host/gfx/kaImage.h"

// Images are decoded by kaDecodeGltfImage and written through libpng: tinygltf's own stb
// loader and writer are left out, in every file that includes tinygltf.
#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#include <tiny_gltf.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

namespace Lode::Io {

// glTF's primitive modes.
constexpr int kaGltfModePoints = 0;
constexpr int kaGltfModeLines = 1;
constexpr int kaGltfModeLineLoop = 2;
constexpr int kaGltfModeLineStrip = 3;
constexpr int kaGltfModeTriangles = 4;
constexpr int kaGltfModeTriangleStrip = 5;
constexpr int kaGltfModeTriangleFan = 6;

// The engine's primitive kind for a glTF mode; false for a mode glTF does not define. A line loop
// maps to a line strip: the importer closes it by repeating its first index.
bool kaDrawOfGltfMode(int mode, Lode::Gfx::KA_GFX_DRAW& draw);
int kaGltfModeOfDraw(Lode::Gfx::KA_GFX_DRAW draw);
// The number of primitives that indexCount indices (or vertices) draw in a kind, and the number
// of indices that primitiveCount primitives take.
int kaPrimitiveCountOf(Lode::Gfx::KA_GFX_DRAW draw, int indexCount);
int kaIndexCountOf(Lode::Gfx::KA_GFX_DRAW draw, int primitiveCount);

// Sampler filters: glTF's enumerants against the engine's. A glTF sampler without a filter
// samples linearly here.
Lode::Gfx::KA_GFX_TEXTURE_FILTER kaFilterOfGltf(int gltfFilter);
int kaGltfFilterOf(Lode::Gfx::KA_GFX_TEXTURE_FILTER filter);
bool kaIsMipmapFilter(Lode::Gfx::KA_GFX_TEXTURE_FILTER filter);
// Wrap modes; glTF's default (and anything unknown) repeats.
Lode::Gfx::KA_GFX_TEXTURE_WRAP kaWrapOfGltf(int gltfWrap);
int kaGltfWrapOf(Lode::Gfx::KA_GFX_TEXTURE_WRAP wrap);

constexpr const char* kaGltfLightsExtension = "KHR_lights_punctual";
constexpr const char* kaGltfSpecularExtension = "KHR_materials_specular";
// Quantized attributes (integer positions, normals, texture coordinates): the importer reads
// every component type, so files that require this extension load too.
constexpr const char* kaGltfQuantizationExtension = "KHR_mesh_quantization";
// True for the extensions a file may require: those the importer reads, and those whose data it
// keeps (texture transforms, material extensions, images in other encodings) without changing
// what the rest of the file means.
bool kaIsSupportedGltfExtension(const std::string& name);

// A URI as tinygltf turns it into a file name: percent escapes decoded, '+' as a space.
std::string kaGltfDecodeUri(const std::string& uri);

// The JSON of model as tinygltf writes it, as a tree to finish before it is written: every
// property but buffers, which the exporter writes itself; images keep their URIs. Numbers are
// as the model holds them: a non-finite one is still there, where written text would say null.
// serialized is called once the model is in tinygltf's document and before the tree is built
// from it: a caller that needs no more of the model lets go of it there, so that the model, the
// document and the tree of a large scene are never all held at once.
nlohmann::json kaGltfModelJson(const tinygltf::Model& model, const std::function<void()>& serialized);
// Deepest nesting of arrays and objects a glTF document may have. Real files nest a few levels
// (extras a few more); what tinygltf and the exporter do with a value, they do recursively.
constexpr size_t kaMaxGltfJsonDepth = 512;
// Why text cannot be read as a glTF document's JSON: it is not JSON, or it nests deeper than
// kaMaxGltfJsonDepth; with the byte offset where reading stopped. Empty when it can.
std::string kaGltfJsonError(std::string_view text);
// text as a tree, or a discarded value when kaGltfJsonError finds fault with it (or text is null):
// what the exporter walks and writes is what a glTF file can hold.
nlohmann::json kaParseGltfJson(const char* text);

// size bytes at data as base64 text (RFC 4648, padded), the coding of data URIs.
std::string kaBase64(const uint8_t* data, size_t size);

// Largest number of pixels accepted in one image, so that a damaged or hostile file cannot
// make the decoder allocate without bound.
constexpr uint64_t kaGltfMaxImagePixels = uint64_t(1) << 26;

// Decodes a PNG or JPEG file held in memory into image (8 bits per channel; grey, grey-alpha,
// RGB or RGBA as the file has them). False with a reason when the bytes are not such a file.
// With SizeOnly the image gets the file's dimensions and format with zero pixels, from the
// file's header alone: enough for counting it.
enum class kaGltfImagePixels { Decoded, SizeOnly };
// The checks kaDecodeGltfImage makes before it decodes: a PNG or JPEG of a size it takes. False
// with the reason it would give.
bool kaCheckGltfImage(const uint8_t* bytes, size_t size, std::string& error);
bool kaDecodeGltfImage(const uint8_t* bytes, size_t size, Lode::Gfx::kaImage* image, std::string& error,
                       kaGltfImagePixels pixels = kaGltfImagePixels::Decoded);

// Collects what a conversion changes or drops, by kind, and gives one line per kind to the run's
// warnings (kaWarnings.h): "WARNING: FILE: WHAT (N times)", or "LOSS: FILE: WHAT (N times)" for
// what is gone from the scene.
class kaGltfWarnings {
public:
    explicit kaGltfWarnings(std::string file) : _file(std::move(file)) {}
    void add(const std::string& what) { ++_counts[what].times; }
    // count names the scene count (kaSceneCounts.h) the loss lowers, when it lowers one.
    void loss(const std::string& what, const char* count = "")
    {
        Kind& kind = _counts[what];
        ++kind.times;
        kind.loss = true;
        kind.count = count;
    }
    void print() const;

private:
    struct Kind {
        int times = 0;
        bool loss = false;
        const char* count = "";
    };
    std::string _file;
    std::map<std::string, Kind> _counts;
};

} // namespace Lode::Io
