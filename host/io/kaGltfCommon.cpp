// tinygltf and stb_image are header libraries: their code is compiled here, once. PNG and JPEG
// are the image formats core glTF allows, so stb is built with those decoders only; images are
// written through libpng (kaImage), so neither stb_image_write nor tinygltf's stb loader is used.
#include "host/io/kaGltfCommon.h"

#include "host/core/kaText.h"
#include "host/core/kaWarnings.h"
#include "host/io/kaPngCodec.h"

#include <algorithm>
#include <cstdio>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wtype-limits"
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#include <stb/stb_image.h>

// tinygltf reads and writes its JSON through RapidJSON, with which it loads a document of many
// small objects in half the time it takes through nlohmann's tree of maps. Parsing is iterative,
// so that deep nesting does not exhaust the stack, refuses text that is not UTF-8, and reads
// every number to the nearest double (RapidJSON's quicker default can miss it by a few units in
// the last place, which kept extras would carry into the written file). tinygltf looks members
// up with operator[], which RapidJSON answers with null for a member that is absent: that is
// not a fault.
#define RAPIDJSON_ASSERT(condition) static_cast<void>(0)
#define RAPIDJSON_PARSE_DEFAULT_FLAGS (kParseIterativeFlag | kParseValidateEncodingFlag | kParseFullPrecisionFlag)
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#define TINYGLTF_USE_RAPIDJSON
#define TINYGLTF_NO_INCLUDE_RAPIDJSON
#define TINYGLTF_IMPLEMENTATION
#include <tiny_gltf.h>
#pragma GCC diagnostic pop

#include <nlohmann/json.hpp>

namespace Lode::Io {

std::string kaGltfDecodeUri(const std::string& uri) { return tinygltf::dlib::urldecode(uri); }

namespace {

// tinygltf's JSON as the tree the export finishes; numbers keep their kind, integer or not.
nlohmann::json treeOf(const json& value)
{
    switch (value.GetType()) {
    case rapidjson::kNullType: return nullptr;
    case rapidjson::kFalseType: return false;
    case rapidjson::kTrueType: return true;
    case rapidjson::kStringType: return std::string(value.GetString(), value.GetStringLength());
    case rapidjson::kNumberType:
        if (value.IsDouble()) return value.GetDouble();
        if (value.IsInt64()) return value.GetInt64();
        return value.GetUint64();
    case rapidjson::kArrayType: {
        nlohmann::json array = nlohmann::json::array();
        array.get_ref<nlohmann::json::array_t&>().reserve(value.Size());
        for (const json& entry : value.GetArray()) array.push_back(treeOf(entry));
        return array;
    }
    case rapidjson::kObjectType: {
        nlohmann::json object = nlohmann::json::object();
        for (const auto& member : value.GetObject())
            object[std::string(member.name.GetString(), member.name.GetStringLength())] = treeOf(member.value);
        return object;
    }
    }
    return nullptr;
}

} // namespace

nlohmann::json kaGltfModelJson(const tinygltf::Model& model, const std::function<void()>& serialized)
{
    JsonDocument document;
    document.SetObject();
    tinygltf::SerializeGltfModel(&model, document);
    std::vector<nlohmann::json> images;
    for (const tinygltf::Image& image : model.images) {
        json entry;
        tinygltf::SerializeGltfImage(image, image.uri, entry);
        images.push_back(treeOf(entry));
    }
    serialized();
    nlohmann::json tree = treeOf(document);
    for (nlohmann::json& image : images) tree["images"].push_back(std::move(image));
    return tree;
}

namespace {

// Reads JSON without building it, stopping where it nests deeper than kaMaxGltfJsonDepth.
struct kaJsonDepthLimit : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, kaJsonDepthLimit> {
    size_t depth = 0;
    bool StartObject() { return ++depth <= kaMaxGltfJsonDepth; }
    bool EndObject(rapidjson::SizeType) { return --depth, true; }
    bool StartArray() { return ++depth <= kaMaxGltfJsonDepth; }
    bool EndArray(rapidjson::SizeType) { return --depth, true; }
};

} // namespace

std::string kaGltfJsonError(std::string_view text)
{
    rapidjson::Reader reader;
    rapidjson::MemoryStream stream(text.data(), text.size());
    kaJsonDepthLimit limit;
    const rapidjson::ParseResult result = reader.Parse(stream, limit);
    const std::string at = " at byte " + std::to_string(result.Offset());
    if (result.Code() == rapidjson::kParseErrorTermination)
        return "JSON nested more than " + std::to_string(kaMaxGltfJsonDepth) + " deep" + at;
    return result.IsError() ? "JSON parse error" + at + ": " + rapidjson::GetParseError_En(result.Code()) : "";
}

nlohmann::json kaParseGltfJson(const char* text)
{
    if (!text || !kaGltfJsonError(text).empty()) return nlohmann::json::value_t::discarded;
    return nlohmann::json::parse(text);
}

std::string kaBase64(const uint8_t* data, size_t size)
{
    return tinygltf::base64_encode(data, static_cast<unsigned int>(size));
}

using namespace Lode::Gfx;

bool kaDrawOfGltfMode(int mode, KA_GFX_DRAW& draw)
{
    switch (mode) {
    case kaGltfModePoints: draw = KA_GFX_DRAW_POINTS; return true;
    case kaGltfModeLines: draw = KA_GFX_DRAW_LINES; return true;
    case kaGltfModeLineLoop:
    case kaGltfModeLineStrip: draw = KA_GFX_DRAW_LINE_STRIP; return true;
    case kaGltfModeTriangles: draw = KA_GFX_DRAW_TRIANGLES; return true;
    case kaGltfModeTriangleStrip: draw = KA_GFX_DRAW_TRIANGLE_STRIP; return true;
    case kaGltfModeTriangleFan: draw = KA_GFX_DRAW_TRIANGLE_FAN; return true;
    default: return false;
    }
}

int kaGltfModeOfDraw(KA_GFX_DRAW draw)
{
    switch (draw) {
    case KA_GFX_DRAW_POINTS: return kaGltfModePoints;
    case KA_GFX_DRAW_LINES: return kaGltfModeLines;
    case KA_GFX_DRAW_LINE_STRIP: return kaGltfModeLineStrip;
    case KA_GFX_DRAW_TRIANGLE_STRIP: return kaGltfModeTriangleStrip;
    case KA_GFX_DRAW_TRIANGLE_FAN: return kaGltfModeTriangleFan;
    case KA_GFX_DRAW_TRIANGLES:
    default: return kaGltfModeTriangles;
    }
}

int kaPrimitiveCountOf(KA_GFX_DRAW draw, int indexCount)
{
    if (indexCount <= 0) return 0;
    switch (draw) {
    case KA_GFX_DRAW_POINTS: return indexCount;
    case KA_GFX_DRAW_LINES: return indexCount / 2;
    case KA_GFX_DRAW_LINE_STRIP: return indexCount - 1;
    case KA_GFX_DRAW_TRIANGLES: return indexCount / 3;
    case KA_GFX_DRAW_TRIANGLE_STRIP:
    case KA_GFX_DRAW_TRIANGLE_FAN: return indexCount > 2 ? indexCount - 2 : 0;
    }
    return 0;
}

int kaIndexCountOf(KA_GFX_DRAW draw, int primitiveCount)
{
    if (primitiveCount <= 0) return 0;
    switch (draw) {
    case KA_GFX_DRAW_POINTS: return primitiveCount;
    case KA_GFX_DRAW_LINES: return primitiveCount * 2;
    case KA_GFX_DRAW_LINE_STRIP: return primitiveCount + 1;
    case KA_GFX_DRAW_TRIANGLES: return primitiveCount * 3;
    case KA_GFX_DRAW_TRIANGLE_STRIP:
    case KA_GFX_DRAW_TRIANGLE_FAN: return primitiveCount + 2;
    }
    return 0;
}

KA_GFX_TEXTURE_FILTER kaFilterOfGltf(int gltfFilter)
{
    switch (gltfFilter) {
    case TINYGLTF_TEXTURE_FILTER_NEAREST: return KA_GFX_TEXTURE_FILTER_NEAREST;
    case TINYGLTF_TEXTURE_FILTER_NEAREST_MIPMAP_NEAREST: return KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_NEAREST;
    case TINYGLTF_TEXTURE_FILTER_NEAREST_MIPMAP_LINEAR: return KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_LINEAR;
    case TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_NEAREST: return KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_NEAREST;
    case TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR: return KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR;
    case TINYGLTF_TEXTURE_FILTER_LINEAR:
    default: return KA_GFX_TEXTURE_FILTER_LINEAR;
    }
}

int kaGltfFilterOf(KA_GFX_TEXTURE_FILTER filter)
{
    switch (filter) {
    case KA_GFX_TEXTURE_FILTER_NEAREST: return TINYGLTF_TEXTURE_FILTER_NEAREST;
    case KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_NEAREST: return TINYGLTF_TEXTURE_FILTER_NEAREST_MIPMAP_NEAREST;
    case KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_LINEAR: return TINYGLTF_TEXTURE_FILTER_NEAREST_MIPMAP_LINEAR;
    case KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_NEAREST: return TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_NEAREST;
    case KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR: return TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR;
    case KA_GFX_TEXTURE_FILTER_LINEAR:
    default: return TINYGLTF_TEXTURE_FILTER_LINEAR;
    }
}

bool kaIsMipmapFilter(KA_GFX_TEXTURE_FILTER filter)
{
    return filter == KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_NEAREST || filter == KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_LINEAR ||
           filter == KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_NEAREST || filter == KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR;
}

KA_GFX_TEXTURE_WRAP kaWrapOfGltf(int gltfWrap)
{
    switch (gltfWrap) {
    case TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE: return KA_GFX_TEXTURE_WRAP_CLAMP;
    case TINYGLTF_TEXTURE_WRAP_MIRRORED_REPEAT: return KA_GFX_TEXTURE_WRAP_MIRRORED_REPEAT;
    case TINYGLTF_TEXTURE_WRAP_REPEAT:
    default: return KA_GFX_TEXTURE_WRAP_REPEAT;
    }
}

int kaGltfWrapOf(KA_GFX_TEXTURE_WRAP wrap)
{
    switch (wrap) {
    case KA_GFX_TEXTURE_WRAP_CLAMP: return TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE;
    case KA_GFX_TEXTURE_WRAP_MIRRORED_REPEAT: return TINYGLTF_TEXTURE_WRAP_MIRRORED_REPEAT;
    case KA_GFX_TEXTURE_WRAP_REPEAT:
    default: return TINYGLTF_TEXTURE_WRAP_REPEAT;
    }
}

bool kaIsSupportedGltfExtension(const std::string& name)
{
    return name == kaGltfLightsExtension || name == kaGltfQuantizationExtension || name == "KHR_texture_transform" ||
           name == "KHR_texture_basisu" || name == "EXT_texture_webp" || name.rfind("KHR_materials_", 0) == 0;
}

namespace {

// The image's dimensions and channels from its header, as stb reads them.
bool checkImage(const uint8_t* bytes, size_t size, int& width, int& height, int& channels, std::string& error)
{
    if (size == 0 || size > size_t(INT32_MAX)) {
        error = size == 0 ? "the image data is empty" : "the image data is too large";
        return false;
    }
    if (!stbi_info_from_memory(bytes, static_cast<int>(size), &width, &height, &channels)) {
        error = std::string("not a PNG or JPEG image (") + stbi_failure_reason() + ")";
        return false;
    }
    if (width <= 0 || height <= 0 || uint64_t(width) * uint64_t(height) > kaGltfMaxImagePixels) {
        error = "the image is " + std::to_string(width) + " x " + std::to_string(height) + " pixels, too large";
        return false;
    }
    return true;
}

} // namespace

bool kaCheckGltfImage(const uint8_t* bytes, size_t size, std::string& error)
{
    int width = 0, height = 0, channels = 0;
    return checkImage(bytes, size, width, height, channels, error);
}

bool kaDecodeGltfImage(const uint8_t* bytes, size_t size, kaImage* image, std::string& error, kaGltfImagePixels pixels)
{
    int width = 0, height = 0, channels = 0;
    if (!checkImage(bytes, size, width, height, channels, error)) return false;
    static constexpr KA_GFX_TEXTURE_FORMAT formats[] = {KA_GFX_TEXTURE_FORMAT_GREY_8,
                                                        KA_GFX_TEXTURE_FORMAT_GREY_ALPHA_8, KA_GFX_TEXTURE_FORMAT_RGB_8,
                                                        KA_GFX_TEXTURE_FORMAT_RGBA_8};
    const auto setup = [&](int columns, int rows, int channelCount) {
        image->setup(columns, rows, formats[channelCount - 1]);
        image->setOrder(KA_GFX_IMAGE_ORDER_RGBA);
    };
    // A PNG is decoded by libpng row by row straight into the image (stb would hold a copy of
    // the image, and its inflated data before that); its header also gives the alpha channel a
    // colour key adds, which stb's header leaves out. stb takes JPEG, and any PNG libpng refuses.
    std::string pngError;
    if (pixels == kaGltfImagePixels::SizeOnly) {
        kaPngPixels header;
        if (kaReadPngExpandedHeaderFromMemory(bytes, size, header, pngError))
            channels = int(kaPngChannelCount(header.layout));
    } else if (kaReadPngExpandedFromMemory(
                   bytes, size,
                   [&](const kaPngPixels& header) {
                       setup(int(header.width), int(header.height), int(kaPngChannelCount(header.layout)));
                       return image->pixelData();
                   },
                   pngError)) {
        return true;
    }
    stbi_uc* decoded = nullptr;
    if (pixels == kaGltfImagePixels::Decoded) {
        decoded = stbi_load_from_memory(bytes, static_cast<int>(size), &width, &height, &channels, 0);
        if (!decoded) {
            error = std::string("the image cannot be decoded (") + stbi_failure_reason() + ")";
            return false;
        }
    }
    const bool known = channels >= 1 && channels <= 4;
    if (known) {
        setup(width, height, channels);
        // setup packs the rows tightly, as stb delivers them.
        if (decoded) std::copy(decoded, decoded + image->getSize(), image->pixelData());
    } else {
        error = "the image has " + std::to_string(channels) + " channels";
    }
    stbi_image_free(decoded);
    return known;
}

void kaGltfWarnings::print() const
{
    for (const auto& [what, kind] : _counts) {
        const std::string times = kind.times == 1 ? "" : Lode::Core::kaFormat(" (%d times)", kind.times);
        const std::string text = _file + ": " + what + times;
        if (kind.loss)
            Lode::Core::kaNoteLoss(text, kind.count);
        else
            Lode::Core::kaWarn(text);
    }
}

} // namespace Lode::Io
