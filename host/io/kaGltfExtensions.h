// What glTF objects hold that the engine does not read: their extras and the extensions that the
// importer does not map. Both are kept on the engine object each glTF object becomes, as the
// JSON text they were written as, and written back unchanged; only references from inside
// extensions to textures and images are renumbered, since export numbers those anew. Internal
// to host/io.
#pragma once

#include "host/core/kaNamedObject.h"
#include "host/io/kaGltfCommon.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <initializer_list>
#include <set>
#include <string>

namespace Lode::Io {

// The extensions of a glTF object (its extensions JSON text) less those named in read, as a JSON
// object text; empty when none is left.
std::string kaUnreadGltfExtensions(const std::string& extensionsJson, std::initializer_list<const char*> read = {});

// The extras of a glTF object (its extras JSON text) as the engine keeps them: compact, with the
// members of objects in name order, as export writes them; empty for none.
std::string kaGltfExtrasText(const std::string& extrasJson);

// Keeps what the engine does not read of a glTF object on object: the extras and the extensions
// other than those named in read.
template <class GltfObject>
void kaKeepUnread(Lode::Core::kaNamedObject* object, const GltfObject& source, std::initializer_list<const char*> read = {})
{
    if (!object) return;
    const std::string extras = kaGltfExtrasText(source.extras_json_string);
    if (!extras.empty()) object->setExtras(extras.c_str());
    const std::string extensions = kaUnreadGltfExtensions(source.extensions_json_string, read);
    if (!extensions.empty()) object->setExtensions(extensions.c_str());
}

// The extras and extensions of a glTF object that the engine folds into another object's (a
// texture reference, a sampler), as the text of {"extensions": ..., "extras": ...} with what is
// there; empty when neither is.
template <class GltfObject> std::string kaUnreadGltfMembers(const GltfObject& source)
{
    nlohmann::json members = nlohmann::json::object();
    if (!source.extensions_json_string.empty())
        members["extensions"] = nlohmann::json::parse(source.extensions_json_string, nullptr, false);
    if (!source.extras_json_string.empty())
        members["extras"] = nlohmann::json::parse(source.extras_json_string, nullptr, false);
    return members.empty() ? std::string() : members.dump();
}

// Calls visit with every texture reference inside a material's extensions: each object member
// whose name ends in "Texture" and that holds an integer "index" (clearcoatTexture,
// sheenColorTexture, ...). visit may change the index; when it returns false the reference is
// removed.
void kaForEachGltfTextureReference(nlohmann::json& extensions, const std::function<bool(nlohmann::json&)>& visit);
// Calls visit with every extension of a texture that names an image by an integer "source"
// (KHR_texture_basisu, EXT_texture_webp, ...); when it returns false the extension is removed.
void kaForEachGltfImageReference(nlohmann::json& extensions, const std::function<bool(nlohmann::json&)>& visit);

// JSON as tinygltf's value tree.
tinygltf::Value kaGltfValueOfJson(const nlohmann::json& json);
// Adds the members of extensions (a JSON object) to map: an extension map does not hold yet is
// added whole; one it holds as an object gets the members it lacks.
void kaMergeGltfExtensions(tinygltf::ExtensionMap& map, const nlohmann::json& extensions);

// The names of every extension a written glTF document uses: the members of every "extensions"
// object in it, extras left out.
std::set<std::string> kaGltfExtensionsUsedIn(const nlohmann::json& document);

} // namespace Lode::Io
