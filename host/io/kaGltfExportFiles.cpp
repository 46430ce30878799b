// The written glTF files: the JSON document (checked for numbers glTF cannot hold), its
// buffer, and the .glb container.
#include "host/io/kaGltfExporter.h"

#include <cstdio>
#include <functional>
#include <sstream>

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

// glTF has no number for infinity or NaN (JSON writes them as null): such a number anywhere
// refuses the export, naming where it is.
bool kaGltfExporter::checkNumbers(const nlohmann::json& json)
{
    for (int accessor : _nonFiniteAccessors)
        return fail("accessor " + std::to_string(accessor) + " (" + accessorUse(accessor) +
                    ") holds numbers that are not finite");
    std::string pointer;
    std::function<bool(const nlohmann::json&)> walk = [&](const nlohmann::json& value) {
        if (value.is_null()) return false;
        const size_t length = pointer.size();
        bool finite = true;
        if (value.is_object()) {
            for (auto entry = value.begin(); finite && entry != value.end(); ++entry) {
                if (entry.key() == "extras") continue;
                pointer += "/" + entry.key();
                finite = walk(entry.value());
                if (finite) pointer.resize(length);
            }
        } else if (value.is_array()) {
            for (size_t i = 0; finite && i < value.size(); ++i) {
                pointer += "/" + std::to_string(i);
                finite = walk(value[i]);
                if (finite) pointer.resize(length);
            }
        }
        return finite;
    };
    if (walk(json)) return true;
    size_t node = 0;
    if (std::sscanf(pointer.c_str(), "/nodes/%zu", &node) == 1 && node < _model.nodes.size())
        return fail("node " + std::to_string(node) + " \"" + _model.nodes[node].name + "\" has a number that is not finite (" +
                    pointer + ")");
    return fail("a number that is not finite at " + pointer);
}

bool kaGltfExporter::writeFiles(std::string& error)
{
    if (!_bin.empty()) {
        while (_bin.size() % 4) _bin.push_back(0);
        _model.buffers.emplace_back();
    }
    // tinygltf writes a node with nothing to say (an unnamed empty group) as null, which no
    // reader accepts; empty extras make it an object.
    for (tinygltf::Node& node : _model.nodes)
        if (node.name.empty() && node.children.empty() && node.mesh < 0 && node.skin < 0 && node.camera < 0 &&
            node.matrix.empty() && node.translation.empty() && node.rotation.empty() && node.scale.empty() &&
            node.weights.empty() && node.extensions.empty())
            node.extras = tinygltf::Value(tinygltf::Value::Object{});
    tinygltf::TinyGLTF writer;
    std::ostringstream stream;
    nlohmann::json json;
    try {
        writer.WriteGltfSceneToStream(&_model, stream, false, false);
        json = nlohmann::json::parse(stream.str());
        for (const auto& [pointer, members] : _unwritten) json[nlohmann::json::json_pointer(pointer)].update(members);
    } catch (const std::exception& exception) {
        error = _path + ": " + exception.what();
        return false;
    }
    if (!checkNumbers(json)) {
        error = _error;
        return false;
    }
    // The extensions the file uses are those written; it requires those of them that its source
    // required and those the written data cannot be read without.
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
    // The buffer is the .glb's binary chunk, or the .bin file beside the .gltf.
    const std::string binFile = _stem + ".bin";
    if (!_bin.empty()) {
        json["buffers"][0] = {{"byteLength", _bin.size()}};
        if (!_binary) json["buffers"][0]["uri"] = uriOfPath(validUtf8(binFile.c_str()));
    }
    // The main file is renamed into place last, so it never refers to files that are not there yet.
    if (!_binary) {
        // Compact, like the binary form's: a round trip does not grow the file.
        const std::string content = json.dump() + "\n";
        return (_bin.empty() ||
                _files.write(_folder.empty() ? binFile : _folder + "/" + binFile, _bin.data(), _bin.size(), error)) &&
               _files.write(_path, content.data(), content.size(), error);
    }
    std::string text = json.dump();
    while (text.size() % 4) text += ' ';
    std::vector<uint8_t> glb;
    const auto word = [&glb](uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) glb.push_back(static_cast<uint8_t>(value >> shift));
    };
    const size_t total = 12 + 8 + text.size() + (_bin.empty() ? 0 : 8 + _bin.size());
    if (total > UINT32_MAX) {
        error = _path + ": the scene needs " + std::to_string(total) + " bytes; a .glb holds 4 GiB at most";
        return false;
    }
    word(0x46546c67);  // "glTF"
    word(2);
    word(static_cast<uint32_t>(total));
    word(static_cast<uint32_t>(text.size()));
    word(0x4e4f534a);  // "JSON"
    glb.insert(glb.end(), text.begin(), text.end());
    if (!_bin.empty()) {
        word(static_cast<uint32_t>(_bin.size()));
        word(0x004e4942);  // "BIN"
        glb.insert(glb.end(), _bin.begin(), _bin.end());
    }
    return _files.write(_path, glb.data(), glb.size(), error);
}

} // namespace Lode::Io
