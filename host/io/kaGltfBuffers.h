// The bytes of a glTF file's buffers as the importer reads them: the .glb's binary chunk and
// .bin files are mapped, not read into memory, and tinygltf never sees them (it parses the
// JSON only). Accessors are read through the file rather than the mapping, so that each one is
// copied once, from the page cache into the engine's array, without the mapping's pages being
// faulted in one by one. Internal to host/io.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Lode::Io {

// A file mapped for reading, and open for reads that bypass the mapping.
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
    // Copies the bytes the mapping shows at [from, from + bytes), which lies in it, into to
    // through the file, so that no page of the mapping is touched. False with the reason when
    // the file no longer holds them.
    bool read(const uint8_t* from, size_t bytes, void* to, std::string& error) const;

private:
    uint8_t* _data = nullptr;
    size_t _size = 0;
    int _fd = -1;
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
    // Copies [from, from + bytes), which lies in one buffer, into to: through its file when the
    // buffer is mapped, else from memory. False with the system's reason when the file has
    // become shorter than its mapping since it was opened.
    bool read(const uint8_t* from, size_t bytes, void* to, std::string& error) const;

private:
    std::vector<Span> _spans;
    std::vector<std::unique_ptr<kaGltfMappedFile>> _files;
};

} // namespace Lode::Io
