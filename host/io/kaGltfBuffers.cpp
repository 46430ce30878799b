#include "host/io/kaGltfBuffers.h"

#include "host/core/kaFile.h"
#include "host/io/kaGltfCommon.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Lode::Io {

kaGltfMappedFile::~kaGltfMappedFile()
{
    if (_data) ::munmap(_data, _size);
    if (_fd >= 0) ::close(_fd);
}

bool kaGltfMappedFile::open(const std::string& path, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::string("cannot open the file: ") + std::strerror(errno);
        return false;
    }
    struct stat status;
    bool opened = ::fstat(fd, &status) == 0;
    if (!opened) {
        error = std::string("cannot read the file: ") + std::strerror(errno);
    } else if (status.st_size > 0) {
        void* mapped = ::mmap(nullptr, size_t(status.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        opened = mapped != MAP_FAILED;
        if (opened) {
            _data = static_cast<uint8_t*>(mapped);
            _size = size_t(status.st_size);
            // Read front to back, mostly: the kernel reads ahead.
            ::madvise(_data, _size, MADV_SEQUENTIAL);
        } else {
            error = std::string("cannot read the file: ") + std::strerror(errno);
        }
    }
    if (opened)
        _fd = fd;
    else
        ::close(fd);
    return opened;
}

bool kaGltfMappedFile::read(const uint8_t* from, size_t bytes, void* to, std::string& error) const
{
    return Lode::Core::kaReadFileAt(_fd, uint64_t(from - _data), to, bytes, error);
}

namespace {

// ---- a scan of the JSON's top level, only as deep as finding one member needs ----

size_t skipSpace(std::string_view text, size_t at)
{
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) ++at;
    return at;
}

// Past the string that starts at at (a quote); npos when it does not end.
size_t skipString(std::string_view text, size_t at)
{
    for (++at; at < text.size(); ++at) {
        if (text[at] == '\\')
            ++at;
        else if (text[at] == '"')
            return at + 1;
    }
    return std::string_view::npos;
}

// Past the value that starts at at; npos when it does not end. Brackets are only counted:
// tinygltf's parse of the whole text finds what else is wrong with it.
size_t skipValue(std::string_view text, size_t at)
{
    if (at >= text.size()) return std::string_view::npos;
    if (text[at] == '"') return skipString(text, at);
    if (text[at] != '{' && text[at] != '[') {
        while (at < text.size() && std::strchr(",}] \t\n\r", text[at]) == nullptr) ++at;
        return at;
    }
    int depth = 0;
    while (at < text.size()) {
        const char c = text[at];
        if (c == '"') {
            at = skipString(text, at);
            if (at == std::string_view::npos) return at;
            continue;
        }
        if (c == '{' || c == '[') ++depth;
        if ((c == '}' || c == ']') && --depth == 0) return at + 1;
        ++at;
    }
    return std::string_view::npos;
}

// The span of the value of the one member of the top-level object written "name" (a key
// spelt with escapes is not recognised; a text that has it then goes to tinygltf whole).
bool findMember(std::string_view text, std::string_view key, size_t& begin, size_t& end)
{
    size_t at = skipSpace(text, 0);
    if (at >= text.size() || text[at] != '{') return false;
    int found = 0;
    at = skipSpace(text, at + 1);
    if (at < text.size() && text[at] == '}') return false;
    while (at < text.size() && text[at] == '"') {
        const size_t keyEnd = skipString(text, at);
        if (keyEnd == std::string_view::npos) return false;
        const bool wanted = text.substr(at + 1, keyEnd - at - 2) == key;
        at = skipSpace(text, keyEnd);
        if (at >= text.size() || text[at] != ':') return false;
        const size_t valueBegin = skipSpace(text, at + 1);
        const size_t valueEnd = skipValue(text, valueBegin);
        if (valueEnd == std::string_view::npos) return false;
        if (wanted) {
            ++found;
            begin = valueBegin;
            end = valueEnd;
        }
        at = skipSpace(text, valueEnd);
        if (at < text.size() && text[at] == '}') return found == 1;
        if (at >= text.size() || text[at] != ',') return false;
        at = skipSpace(text, at + 1);
    }
    return false;
}

} // namespace

bool kaPlanGltfBuffers(std::string_view json, bool binary, kaGltfBufferPlan& plan)
{
    size_t begin = 0, end = 0;
    if (!findMember(json, "buffers", begin, end)) return false;
    const nlohmann::json buffers = nlohmann::json::parse(json.substr(begin, end - begin), nullptr, false);
    if (!buffers.is_array()) return false;
    plan = {};
    std::string entries;
    for (const nlohmann::json& buffer : buffers) {
        if (!buffer.is_object()) return false;
        const auto length = buffer.find("byteLength");
        const auto uri = buffer.find("uri");
        if (length == buffer.end() || !length->is_number_unsigned() || (uri != buffer.end() && !uri->is_string()))
            return false;
        const std::string text = uri == buffer.end() ? std::string() : uri->get<std::string>();
        const bool fromFile = uri == buffer.end() ? binary : !tinygltf::IsDataURI(text);
        plan.fromFile.push_back(fromFile);
        plan.uris.push_back(text);
        plan.lengths.push_back(length->get<uint64_t>());
        nlohmann::json parsed = buffer;
        if (fromFile) {
            parsed["byteLength"] = 1;
            parsed["uri"] = "data:application/octet-stream;base64,AA==";
        }
        entries += (entries.empty() ? "" : ",") + parsed.dump();
    }
    plan.json.reserve(json.size() + entries.size());
    plan.json.append(json.substr(0, begin)).append("[").append(entries).append("]").append(json.substr(end));
    return true;
}

uint64_t kaGltfBuffers::totalBytes() const
{
    uint64_t total = 0;
    for (const Span& span : _spans) total += span.size;
    return total;
}

bool kaGltfBuffers::read(const uint8_t* from, size_t bytes, void* to, std::string& error) const
{
    for (const auto& file : _files)
        if (from >= file->data() && from < file->data() + file->size()) return file->read(from, bytes, to, error);
    std::memcpy(to, from, bytes);
    return true;
}

} // namespace Lode::Io
