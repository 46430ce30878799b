// The bytes of a glTF file's buffers as the importer reads them: the .glb's binary chunk and
// .bin files are mapped, not read into memory, and tinygltf never sees them (it parses the
// JSON only), so that each accessor's bytes are copied once, from the file into the engine's
// array. Internal to host/io.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Lode::Io {

// A file mapped for reading. Pages read through it count in the process's memory until
// released, so a reader hands back what it has copied out.
class kaGltfMappedFile {
public:
    kaGltfMappedFile() = default;
    kaGltfMappedFile(const kaGltfMappedFile&) = delete;
    kaGltfMappedFile& operator=(const kaGltfMappedFile&) = delete;
    ~kaGltfMappedFile();

    // False with the system's reason when the file cannot be opened or mapped.
    bool open(const std::string& path, std::string& error);
    const uint8_t* data() const { return _data; }
    size_t size() const { return _size; }
    // Drops the pages wholly inside [from, from + bytes): read again, they come from the file.
    void release(const uint8_t* from, size_t bytes) const;

private:
    uint8_t* _data = nullptr;
    size_t _size = 0;
};

// What becomes of the JSON's buffers before tinygltf parses it.
struct kaGltfBufferPlan {
    // The JSON tinygltf parses: each buffer whose bytes live in a file (the binary chunk, a .bin)
    // stands there as one byte given by a data URI; buffers given by data URIs stay as written.
    std::string json;
    // Per buffer: true when this side reads it. uris holds the URI such a buffer names ("": the
    // binary chunk), lengths its byte length.
    std::vector<bool> fromFile;
    std::vector<std::string> uris;
    std::vector<uint64_t> lengths;
};

// Plans the buffers of the JSON text. False when the text is not an object with one "buffers"
// member whose entries are objects with an unsigned byteLength and, where present, a string
// uri: tinygltf then parses the text as it is and says what is wrong. In a .glb (binary) a
// buffer without uri is the binary chunk; in a .gltf it is left to tinygltf.
bool kaPlanGltfBuffers(std::string_view json, bool binary, kaGltfBufferPlan& plan);

// The buffers' bytes in the order of the file's buffers, and the mapped files they lie in.
class kaGltfBuffers {
public:
    struct Span {
        const uint8_t* data = nullptr;
        size_t size = 0;
    };
    void add(const uint8_t* data, size_t size) { _spans.push_back({data, size}); }
    void keep(std::unique_ptr<kaGltfMappedFile> file) { _files.push_back(std::move(file)); }
    size_t size() const { return _spans.size(); }
    const Span& operator[](size_t i) const { return _spans[i]; }
    uint64_t totalBytes() const;
    // Drops the pages of a mapped file that the bytes cover, once copied out.
    void release(const uint8_t* from, size_t bytes) const;

private:
    std::vector<Span> _spans;
    std::vector<std::unique_ptr<kaGltfMappedFile>> _files;
};

} // namespace Lode::Io
