#include "host/io/kaPngCodec.h"

#include "host/core/kaFileCommit.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <type_traits>

namespace Lode::Gfx {

using Layout = kaPngPixels::Layout;

uint32_t kaPngChannelCount(Layout layout)
{
    switch (layout) {
    case Layout::Grey8: return 1;
    case Layout::GreyAlpha8: return 2;
    case Layout::RGB8: return 3;
    case Layout::RGBA8: return 4;
    case Layout::Indexed8: return 1;
    }
    return 0;
}

namespace {

// libpng reports errors by longjmp. Every function below that calls setjmp takes its state by
// pointer to one of these trivially destructible sessions and holds no C++ object of its own, so
// the jump skips no destructor; the vectors, strings and clean-up live in the callers.
constexpr size_t kMessageSize = 256;
const char* const kMemoryName = "<memory>";

// libpng's text for the error, and the last warning before it: some refusals (a side over the
// user limit) are explained only by a warning followed by a generic error.
struct PngMessages {
    char warning[kMessageSize];
    char error[2 * kMessageSize + 32]; // room for both texts
};

struct ReadSession {
    png_structp png;
    png_infop info;
    // The source: a file, or else a memory block.
    FILE* file;
    const uint8_t* data;
    size_t size;
    size_t offset;
    // The image as it comes out of the transforms.
    uint32_t width;
    uint32_t height;
    uint32_t channels;
    int passes;
    // Palettes expanded and 16-bit samples cut to their high byte, as stb_image decodes.
    bool expanded;
    Layout layout;
    uint32_t paletteCount;
    uint8_t palette[256 * 4];
    PngMessages messages;
};

struct WriteSession {
    png_structp png;
    png_infop info;
    const uint8_t* pixels;
    uint32_t width;
    uint32_t height;
    uint32_t stride;
    int colorType;
    png_color palette[256];
    png_byte alpha[256];
    int paletteCount;
    int alphaCount;
    std::vector<uint8_t>* out; // a pointer, so the session stays trivially destructible
    PngMessages messages;
};

static_assert(std::is_trivially_destructible_v<ReadSession> && std::is_trivially_destructible_v<WriteSession>,
              "a longjmp must be able to skip over the sessions");

std::string errnoText(int code) { return std::error_code(code, std::generic_category()).message(); }

[[noreturn]] void onPngError(png_structp png, png_const_charp message)
{
    auto* messages = static_cast<PngMessages*>(png_get_error_ptr(png));
    const char* text = message ? message : "unknown libpng error";
    if (messages->warning[0])
        std::snprintf(messages->error, sizeof messages->error, "%s (after warning: %s)", text, messages->warning);
    else
        std::snprintf(messages->error, sizeof messages->error, "%s", text);
    png_longjmp(png, 1);
}

// Kept, not printed: a library printing to the host's output would only clutter it.
void onPngWarning(png_structp png, png_const_charp message)
{
    auto* messages = static_cast<PngMessages*>(png_get_error_ptr(png));
    std::snprintf(messages->warning, sizeof messages->warning, "%s", message ? message : "");
}

void readSource(png_structp png, png_bytep dest, size_t length)
{
    auto* s = static_cast<ReadSession*>(png_get_io_ptr(png));
    if (length == 0) return;
    if (s->file) {
        if (std::fread(dest, 1, length, s->file) != length)
            png_error(png, std::ferror(s->file) ? "read error" : "unexpected end of file");
        return;
    }
    if (length > s->size - s->offset) png_error(png, "unexpected end of data");
    std::memcpy(dest, s->data + s->offset, length);
    s->offset += length;
}

// Reads the chunks up to the image data, sets the transforms and checks the size, all before
// anything as large as the image is allocated.
bool readHeader(ReadSession* s)
{
    if (setjmp(png_jmpbuf(s->png))) return false;
    png_set_user_limits(s->png, kaPngMaxDimension, kaPngMaxDimension);
    // stb_image reads past checksums that do not match; so does a reader that decodes as it does.
    if (s->expanded) png_set_crc_action(s->png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
    png_set_read_fn(s->png, s, readSource);
    png_read_info(s->png, s->info);

    s->width = png_get_image_width(s->png, s->info);
    s->height = png_get_image_height(s->png, s->info);
    const int bitDepth = png_get_bit_depth(s->png, s->info);
    const int colorType = png_get_color_type(s->png, s->info);
    const bool hasKey = png_get_valid(s->png, s->info, PNG_INFO_tRNS) != 0;

    // Scaling rounds to the nearest 8-bit value where stripping would truncate.
    if (bitDepth == 16) (s->expanded ? png_set_strip_16 : png_set_scale_16)(s->png);
    switch (colorType) {
    case PNG_COLOR_TYPE_PALETTE:
        if (s->expanded) {
            // A transparency chunk gives every entry an alpha, as stb reads it.
            png_set_palette_to_rgb(s->png);
            if (hasKey) png_set_tRNS_to_alpha(s->png);
            s->layout = hasKey ? Layout::RGBA8 : Layout::RGB8;
            break;
        }
        // Packing spreads 1/2/4-bit indices one per byte and keeps their values.
        if (bitDepth < 8) png_set_packing(s->png);
        s->layout = Layout::Indexed8;
        break;
    case PNG_COLOR_TYPE_GRAY:
        if (bitDepth < 8) png_set_expand_gray_1_2_4_to_8(s->png);
        if (hasKey) png_set_tRNS_to_alpha(s->png);
        s->layout = hasKey ? Layout::GreyAlpha8 : Layout::Grey8;
        break;
    case PNG_COLOR_TYPE_GRAY_ALPHA: s->layout = Layout::GreyAlpha8; break;
    case PNG_COLOR_TYPE_RGB:
        if (hasKey) png_set_tRNS_to_alpha(s->png);
        s->layout = hasKey ? Layout::RGBA8 : Layout::RGB8;
        break;
    case PNG_COLOR_TYPE_RGB_ALPHA: s->layout = Layout::RGBA8; break;
    default: png_error(s->png, "unsupported colour type");
    }
    s->channels = kaPngChannelCount(s->layout);
    if (uint64_t(s->width) * s->height * s->channels > kaPngMaxDecodedBytes)
        png_error(s->png, "decoded image would exceed 1 GiB");

    s->passes = png_set_interlace_handling(s->png);
    png_read_update_info(s->png, s->info);
    if (png_get_rowbytes(s->png, s->info) != size_t(s->width) * s->channels)
        png_error(s->png, "unexpected row size after transforms");

    if (colorType == PNG_COLOR_TYPE_PALETTE && !s->expanded) {
        png_colorp colours = nullptr;
        int count = 0;
        if (!png_get_PLTE(s->png, s->info, &colours, &count) || count <= 0) png_error(s->png, "missing palette");
        png_bytep alpha = nullptr;
        int alphaCount = 0;
        png_get_tRNS(s->png, s->info, &alpha, &alphaCount, nullptr);
        s->paletteCount = uint32_t(std::min(count, 256));
        for (uint32_t i = 0; i < s->paletteCount; ++i) {
            uint8_t* entry = s->palette + 4 * i;
            entry[0] = colours[i].red;
            entry[1] = colours[i].green;
            entry[2] = colours[i].blue;
            entry[3] = (alpha && int(i) < alphaCount) ? alpha[i] : 255;
        }
    }
    return true;
}

// `pixels` holds height tightly packed rows. Interlaced images go through every row once per
// pass; libpng fills in that pass's pixels over what the earlier passes left.
bool readRows(ReadSession* s, uint8_t* pixels)
{
    if (setjmp(png_jmpbuf(s->png))) return false;
    const size_t stride = size_t(s->width) * s->channels;
    for (int pass = 0; pass < s->passes; ++pass)
        for (uint32_t y = 0; y < s->height; ++y) png_read_row(s->png, pixels + y * stride, nullptr);
    // Reads up to IEND, so a file cut short after its image data is still caught.
    png_read_end(s->png, nullptr);
    return true;
}

bool reportError(std::string& error, const char* name, const std::string& why)
{
    error = std::string(name) + ": " + why;
    return false;
}

// Creates the reader, reads the header and hands over to rest, which reads on; the reader is
// destroyed whatever rest does.
template <class Rest> bool readWith(ReadSession& s, const char* name, std::string& error, Rest rest)
{
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s.messages, onPngError, onPngWarning);
    if (!s.png) return reportError(error, name, "cannot create a PNG reader");
    s.info = png_create_info_struct(s.png);
    struct Destroy {
        ReadSession& s;
        ~Destroy() { png_destroy_read_struct(&s.png, s.info ? &s.info : nullptr, nullptr); }
    } destroy{s};
    if (!s.info) return reportError(error, name, "cannot create a PNG reader");
    if (!readHeader(&s)) return reportError(error, name, s.messages.error);
    return rest();
}

kaPngPixels headerOf(const ReadSession& s)
{
    kaPngPixels header;
    header.layout = s.layout;
    header.width = s.width;
    header.height = s.height;
    header.bytesPerRow = s.width * s.channels;
    if (s.layout == Layout::Indexed8) header.palette.assign(s.palette, s.palette + 4 * s.paletteCount);
    return header;
}

// Without rows only the header is read: out gets no pixels.
bool decode(ReadSession& s, const char* name, kaPngPixels& out, std::string& error, bool rows = true)
{
    return readWith(s, name, error, [&] {
        kaPngPixels result = headerOf(s);
        if (!rows) {
            out = std::move(result);
            return true;
        }
        try {
            result.pixels.resize(size_t(result.bytesPerRow) * s.height);
        } catch (const std::bad_alloc&) {
            return reportError(error, name, "out of memory for the decoded image");
        }
        if (!readRows(&s, result.pixels.data())) return reportError(error, name, s.messages.error);

        // Callers index the palette with these bytes, so an index past its end is refused here.
        if (s.layout == Layout::Indexed8) {
            auto bad = std::find_if(result.pixels.begin(), result.pixels.end(),
                                    [&](uint8_t index) { return index >= s.paletteCount; });
            if (bad != result.pixels.end())
                return reportError(error, name,
                                   "palette index " + std::to_string(*bad) + " is past the palette's " +
                                       std::to_string(s.paletteCount) + " entries");
        }
        out = std::move(result);
        return true;
    });
}

void writeSink(png_structp png, png_bytep data, size_t length)
{
    auto* s = static_cast<WriteSession*>(png_get_io_ptr(png));
    // An exception must not unwind through libpng's C frames; turn it into a libpng error instead,
    // raised once the handler is left.
    bool stored = true;
    try {
        s->out->insert(s->out->end(), data, data + length);
    } catch (...) {
        stored = false;
    }
    if (!stored) png_error(png, "out of memory for the encoded data");
}

// libpng's default flush treats the I/O pointer as a FILE*, which ours is not.
void flushSink(png_structp) {}

bool encodeRows(WriteSession* s)
{
    if (setjmp(png_jmpbuf(s->png))) return false;
    png_set_write_fn(s->png, s, writeSink, flushSink);
    png_set_IHDR(s->png, s->info, s->width, s->height, 8, s->colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (s->colorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(s->png, s->info, s->palette, s->paletteCount);
        if (s->alphaCount > 0) png_set_tRNS(s->png, s->info, s->alpha, s->alphaCount, nullptr);
    }
    png_write_info(s->png, s->info);
    for (uint32_t y = 0; y < s->height; ++y) png_write_row(s->png, s->pixels + size_t(y) * s->stride);
    png_write_end(s->png, nullptr);
    return true;
}

// Why `in` cannot be written, or empty when it can.
std::string checkWritable(const kaPngPixels& in)
{
    const uint32_t channels = kaPngChannelCount(in.layout);
    if (channels == 0) return "unknown pixel layout";
    if (in.width == 0 || in.height == 0) return "empty image";
    if (in.width > kaPngMaxDimension || in.height > kaPngMaxDimension)
        return "image is " + std::to_string(in.width) + "x" + std::to_string(in.height) + ", larger than " +
               std::to_string(kaPngMaxDimension) + " on a side";
    if (in.bytesPerRow < uint64_t(in.width) * channels) return "bytesPerRow is shorter than a row of pixels";
    if (in.pixels.size() != uint64_t(in.bytesPerRow) * in.height)
        return "pixel buffer holds " + std::to_string(in.pixels.size()) + " bytes, expected " +
               std::to_string(uint64_t(in.bytesPerRow) * in.height);
    if (in.layout != Layout::Indexed8) return {};

    if (in.palette.empty() || in.palette.size() % 4 != 0 || in.palette.size() > 256 * 4)
        return "palette must hold 1 to 256 RGBA entries";
    const size_t entries = in.palette.size() / 4;
    for (uint32_t y = 0; y < in.height; ++y) {
        const uint8_t* row = in.pixels.data() + size_t(y) * in.bytesPerRow;
        for (uint32_t x = 0; x < in.width; ++x)
            if (row[x] >= entries)
                return "palette index " + std::to_string(row[x]) + " is past the palette's " +
                       std::to_string(entries) + " entries";
    }
    return {};
}

int pngColorType(Layout layout)
{
    switch (layout) {
    case Layout::Grey8: return PNG_COLOR_TYPE_GRAY;
    case Layout::GreyAlpha8: return PNG_COLOR_TYPE_GRAY_ALPHA;
    case Layout::RGB8: return PNG_COLOR_TYPE_RGB;
    case Layout::RGBA8: return PNG_COLOR_TYPE_RGB_ALPHA;
    case Layout::Indexed8: return PNG_COLOR_TYPE_PALETTE;
    }
    return -1;
}

bool encode(const kaPngPixels& in, const char* name, std::vector<uint8_t>& out, std::string& error)
{
    const std::string why = checkWritable(in);
    if (!why.empty()) return reportError(error, name, why);

    WriteSession s{};
    s.pixels = in.pixels.data();
    s.width = in.width;
    s.height = in.height;
    s.stride = in.bytesPerRow;
    s.colorType = pngColorType(in.layout);
    if (in.layout == Layout::Indexed8) {
        s.paletteCount = int(in.palette.size() / 4);
        for (int i = 0; i < s.paletteCount; ++i) {
            s.palette[i] = {in.palette[4 * i], in.palette[4 * i + 1], in.palette[4 * i + 2]};
            s.alpha[i] = in.palette[4 * i + 3];
            // tRNS may stop at the last translucent entry; the rest read as opaque.
            if (s.alpha[i] < 255) s.alphaCount = i + 1;
        }
    }

    std::vector<uint8_t> encoded;
    s.out = &encoded;
    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &s.messages, onPngError, onPngWarning);
    if (!s.png) return reportError(error, name, "cannot create a PNG writer");
    s.info = png_create_info_struct(s.png);
    struct Destroy {
        WriteSession& s;
        ~Destroy() { png_destroy_write_struct(&s.png, s.info ? &s.info : nullptr); }
    } destroy{s};
    if (!s.info) return reportError(error, name, "cannot create a PNG writer");

    if (!encodeRows(&s)) return reportError(error, name, s.messages.error);
    out.swap(encoded);
    return true;
}

} // namespace

bool kaReadPng(const std::string& path, kaPngPixels& out, std::string& error)
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return reportError(error, path.c_str(), "cannot open: " + errnoText(errno));
    Lode::Core::kaFileCommit::noteInput(path);
    ReadSession s{};
    s.file = file.get();
    return decode(s, path.c_str(), out, error);
}

bool kaReadPngFromMemory(const uint8_t* data, size_t size, kaPngPixels& out, std::string& error)
{
    if (!data && size > 0) return reportError(error, kMemoryName, "null data");
    ReadSession s{};
    s.data = data;
    s.size = size;
    return decode(s, kMemoryName, out, error);
}

bool kaReadPngExpandedFromMemory(const uint8_t* data, size_t size,
                                 const std::function<uint8_t*(const kaPngPixels& header)>& destination,
                                 std::string& error)
{
    if (!data && size > 0) return reportError(error, kMemoryName, "null data");
    ReadSession s{};
    s.data = data;
    s.size = size;
    s.expanded = true;
    return readWith(s, kMemoryName, error, [&] {
        uint8_t* pixels = destination(headerOf(s));
        if (!pixels) return reportError(error, kMemoryName, "no room for the decoded image");
        return readRows(&s, pixels) || reportError(error, kMemoryName, s.messages.error);
    });
}

bool kaReadPngExpandedHeaderFromMemory(const uint8_t* data, size_t size, kaPngPixels& out, std::string& error)
{
    if (!data && size > 0) return reportError(error, kMemoryName, "null data");
    ReadSession s{};
    s.data = data;
    s.size = size;
    s.expanded = true;
    return decode(s, kMemoryName, out, error, false);
}

bool kaWritePng(const std::string& path, const kaPngPixels& in, std::string& error)
{
    Lode::Core::kaFileCommit files;
    return kaWritePng(path, in, files, error) && files.commit(error);
}

bool kaWritePng(const std::string& path, const kaPngPixels& in, Lode::Core::kaFileCommit& files, std::string& error)
{
    std::vector<uint8_t> bytes;
    return encode(in, path.c_str(), bytes, error) && files.write(path, bytes.data(), bytes.size(), error);
}

bool kaWritePngToMemory(const kaPngPixels& in, std::vector<uint8_t>& out, std::string& error)
{
    return encode(in, kMemoryName, out, error);
}

} // namespace Lode::Gfx
