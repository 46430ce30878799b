// The written glTF files: the JSON document (checked for numbers glTF cannot hold), its
// buffer, and the .glb container.
#include "host/io/kaGltfExporter.h"
#include "host/utils/kaProgress.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace Lode::Io {

// What an accessor holds, for messages: the first use found.
std::string kaGltfExporter::accessorUse(int accessor) const
{
    for (size_t m = 0; m < _model.meshes.size(); ++m)
        for (size_t p = 0; p < _model.meshes[m].primitives.size(); ++p) {
            const tinygltf::Primitive& primitive = _model.meshes[m].primitives[p];
            const std::string what = "mesh \"" + _model.meshes[m].name + "\" primitive " + std::to_string(p) + " ";
            for (const auto& [name, index] : primitive.attributes)
                if (index == accessor) return what + name;
            for (size_t t = 0; t < primitive.targets.size(); ++t)
                for (const auto& [name, index] : primitive.targets[t])
                    if (index == accessor) return what + "morph target " + std::to_string(t) + " " + name;
        }
    for (const tinygltf::Skin& skin : _model.skins)
        if (skin.inverseBindMatrices == accessor) return "skin \"" + skin.name + "\" inverse bind matrices";
    for (const tinygltf::Animation& animation : _model.animations)
        for (const tinygltf::AnimationChannel& channel : animation.channels) {
            const tinygltf::AnimationSampler& sampler = animation.samplers[channel.sampler];
            if (sampler.input == accessor || sampler.output == accessor)
                return "animation \"" + animation.name + "\" " + channel.target_path + " of node \"" +
                       _model.nodes[channel.target_node].name + "\"";
        }
    return "unused";
}

namespace {

// True when every number of value (extras left out) is finite and nothing is null. Otherwise
// path receives the members and indices that lead to the first that is not, innermost first:
// the path is built only for the one number an export refuses.
bool allFinite(const nlohmann::json& value, std::vector<std::string>& path)
{
    if (value.is_null() || (value.is_number_float() && !std::isfinite(value.get<double>()))) return false;
    if (value.is_object()) {
        for (auto entry = value.begin(); entry != value.end(); ++entry)
            if (entry.key() != "extras" && !allFinite(entry.value(), path)) {
                path.push_back(entry.key());
                return false;
            }
    } else if (value.is_array()) {
        for (size_t i = 0; i < value.size(); ++i)
            if (!allFinite(value[i], path)) {
                path.push_back(std::to_string(i));
                return false;
            }
    }
    return true;
}

} // namespace

// glTF has no number for infinity or NaN (JSON writes them as null): such a number anywhere
// refuses the export, naming where it is. Accessors are checked on the model, the rest on the
// tree, which by then is all that is left of the model's nodes.
bool kaGltfExporter::checkAccessorNumbers()
{
    for (int accessor : _nonFiniteAccessors)
        return fail("accessor " + std::to_string(accessor) + " (" + accessorUse(accessor) +
                    ") holds numbers that are not finite");
    return true;
}

bool kaGltfExporter::checkNumbers(const nlohmann::json& json)
{
    std::vector<std::string> path;
    if (allFinite(json, path)) return true;
    std::string pointer;
    for (auto step = path.rbegin(); step != path.rend(); ++step) pointer += "/" + *step;
    size_t node = 0;
    if (std::sscanf(pointer.c_str(), "/nodes/%zu", &node) == 1)
        return fail("node " + std::to_string(node) + " \"" + json["nodes"][node].value("name", "") +
                    "\" has a number that is not finite (" + pointer + ")");
    return fail("a number that is not finite at " + pointer);
}

bool kaGltfExporter::writeFiles(std::string& error)
{
    _binSize = (_binSize + 3) / 4 * 4;
    // tinygltf writes a node with nothing to say (an unnamed empty group) as null, which no
    // reader accepts; empty extras make it an object.
    for (tinygltf::Node& node : _model.nodes)
        if (node.name.empty() && node.children.empty() && node.mesh < 0 && node.skin < 0 && node.camera < 0 &&
            node.matrix.empty() && node.translation.empty() && node.rotation.empty() && node.scale.empty() &&
            node.weights.empty() && node.extensions.empty())
            node.extras = tinygltf::Value(tinygltf::Value::Object{});
    // tinygltf's tree, finished here; text that JSON cannot hold refuses the export.
    if (!checkAccessorNumbers()) {
        error = _error;
        return false;
    }
    const std::string binFile = _stem + ".bin";
    std::string text;
    try {
        // What is left to write of the model is its images' types and its buffer views' bytes.
        nlohmann::json json = kaGltfModelJson(_model, [this] {
            tinygltf::Model rest;
            rest.images = std::move(_model.images);
            rest.bufferViews = std::move(_model.bufferViews);
            _model = std::move(rest);
        });
        for (const auto& [pointer, members] : _unwritten) json[nlohmann::json::json_pointer(pointer)].update(members);
        if (!checkNumbers(json)) {
            error = _error;
            return false;
        }
        // The extensions the file uses are those written; it requires those of them that its
        // source required and those the written data cannot be read without.
        std::set<std::string> used = kaGltfExtensionsUsedIn(json);
        used.insert(_usedByData.begin(), _usedByData.end());
        std::vector<std::string> required;
        for (const std::string& name : used)
            if (_required.count(name)) required.push_back(name);
        json.erase("extensionsUsed");
        json.erase("extensionsRequired");
        if (!used.empty()) json["extensionsUsed"] = used;
        if (!required.empty()) json["extensionsRequired"] = required;
        // A perspective camera without a far plane has none in glTF (tinygltf writes 0).
        if (json.contains("cameras"))
            for (nlohmann::json& camera : json["cameras"])
                if (camera.contains("perspective") && camera["perspective"].value("zfar", 0.0) == 0.0)
                    camera["perspective"].erase("zfar");
        // tinygltf leaves out the type of images given by URI.
        for (size_t i = 0; i < _model.images.size(); ++i)
            if (!_model.images[i].mimeType.empty()) json["images"][i]["mimeType"] = _model.images[i].mimeType;
        // The buffer is the .glb's binary chunk, or the .bin file beside the .gltf: streamed from
        // where each view's bytes are, never gathered in memory.
        if (_binSize > 0) {
            json["buffers"][0] = {{"byteLength", _binSize}};
            if (!_binary) json["buffers"][0]["uri"] = uriOfPath(validUtf8(binFile.c_str()));
        }
        // Compact in both forms: a round trip does not grow the file.
        text = json.dump();
    } catch (const std::exception& exception) {
        error = _path + ": " + exception.what();
        return false;
    }
    // The main file is renamed into place last, so it never refers to files that are not there yet.
    if (!_binary) {
        const std::string content = text + "\n";
        const std::string binPath = _folder.empty() ? binFile : _folder + "/" + binFile;
        return (_binSize == 0 ||
                _files.write(
                    binPath, [&](std::FILE* file, std::string& failure) { return writeBuffer(file, binPath, failure); },
                    error)) &&
               _files.write(_path, content.data(), content.size(), error);
    }
    while (text.size() % 4) text += ' ';
    const size_t total = 12 + 8 + text.size() + (_binSize == 0 ? 0 : 8 + _binSize);
    if (total > UINT32_MAX) {
        error = _path + ": the scene needs " + std::to_string(total) + " bytes; a .glb holds 4 GiB at most";
        return false;
    }
    std::vector<uint8_t> head;
    const auto word = [&head](uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) head.push_back(static_cast<uint8_t>(value >> shift));
    };
    word(0x46546c67);  // "glTF"
    word(2);
    word(static_cast<uint32_t>(total));
    word(static_cast<uint32_t>(text.size()));
    word(0x4e4f534a);  // "JSON"
    head.insert(head.end(), text.begin(), text.end());
    if (_binSize > 0) {
        word(static_cast<uint32_t>(_binSize));
        word(0x004e4942); // "BIN"
    }
    return _files.write(
        _path,
        [&](std::FILE* file, std::string& failure) {
            if (std::fwrite(head.data(), 1, head.size(), file) != head.size()) {
                failure = _path + ": cannot write: " + std::strerror(errno);
                return false;
            }
            return _binSize == 0 || writeBuffer(file, _path, failure);
        },
        error);
}

bool kaGltfExporter::writeBuffer(std::FILE* file, const std::string& path, std::string& error) const
{
    static const uint8_t zeros[4] = {};
    size_t at = 0;
    const auto put = [&](const void* data, size_t size) {
        if (size == 0 || std::fwrite(data, 1, size, file) == size) return true;
        error = path + ": cannot write: " + std::strerror(errno);
        return false;
    };
    std::vector<uint8_t> scratch(ViewChunkBytes);
    for (size_t v = 0; v < _model.bufferViews.size(); ++v) {
        const tinygltf::BufferView& view = _model.bufferViews[v];
        if (!put(zeros, view.byteOffset - at)) return false;
        for (size_t offset = 0; offset < view.byteLength; offset += ViewChunkBytes) {
            const size_t size = std::min(ViewChunkBytes, view.byteLength - offset);
            if (!put(_viewData[v].at(offset, size, scratch.data()), size)) return false;
        }
        at = view.byteOffset + view.byteLength;
        kaProgress::report(at, _binSize);
    }
    if (!put(zeros, _binSize - at)) return false;
    kaProgress::report(_binSize, _binSize);
    return true;
}

} // namespace Lode::Io
