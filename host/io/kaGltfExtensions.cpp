#include "host/io/kaGltfExtensions.h"

#include <vector>

namespace Lode::Io {

using Json = nlohmann::json;

std::string kaUnreadGltfExtensions(const std::string& extensionsJson, std::initializer_list<const char*> read)
{
    if (extensionsJson.empty()) return {};
    Json extensions = Json::parse(extensionsJson, nullptr, false);
    if (!extensions.is_object()) return {};
    for (const char* name : read) extensions.erase(name);
    return extensions.empty() ? std::string() : extensions.dump();
}

std::string kaGltfExtrasText(const std::string& extrasJson)
{
    return extrasJson.empty() ? std::string() : Json::parse(extrasJson, nullptr, false).dump();
}

void kaForEachGltfTextureReference(Json& extensions, const std::function<bool(Json&)>& visit)
{
    // Texture references sit at any depth (KHR_materials_* nest them in objects of their own),
    // and never inside the extras a reference may carry; walked with a stack of its own.
    std::vector<Json*> pending{&extensions};
    while (!pending.empty()) {
        Json* at = pending.back();
        pending.pop_back();
        if (at->is_array()) {
            for (Json& entry : *at) pending.push_back(&entry);
            continue;
        }
        if (!at->is_object()) continue;
        std::vector<std::string> removed;
        for (auto member = at->begin(); member != at->end(); ++member) {
            const std::string& key = member.key();
            if (key == "extras") continue;
            const bool reference = key.size() > 7 && key.compare(key.size() - 7, 7, "Texture") == 0 &&
                                   member->is_object() && member->contains("index") &&
                                   (*member)["index"].is_number_integer();
            if (!reference)
                pending.push_back(&*member);
            else if (!visit(*member))
                removed.push_back(key);
        }
        for (const std::string& key : removed) at->erase(key);
    }
}

void kaForEachGltfImageReference(Json& extensions, const std::function<bool(Json&)>& visit)
{
    if (!extensions.is_object()) return;
    std::vector<std::string> removed;
    for (auto extension = extensions.begin(); extension != extensions.end(); ++extension)
        if (extension->is_object() && extension->contains("source") && (*extension)["source"].is_number_integer() &&
            !visit(*extension))
            removed.push_back(extension.key());
    for (const std::string& key : removed) extensions.erase(key);
}

tinygltf::Value kaGltfValueOfJson(const Json& json)
{
    switch (json.type()) {
    case Json::value_t::boolean: return tinygltf::Value(json.get<bool>());
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
        if (json.get<double>() >= INT32_MIN && json.get<double>() <= INT32_MAX) return tinygltf::Value(json.get<int>());
        return tinygltf::Value(json.get<double>());
    case Json::value_t::number_float: return tinygltf::Value(json.get<double>());
    case Json::value_t::string: return tinygltf::Value(json.get<std::string>());
    case Json::value_t::array: {
        tinygltf::Value::Array array;
        for (const Json& entry : json) array.push_back(kaGltfValueOfJson(entry));
        return tinygltf::Value(std::move(array));
    }
    case Json::value_t::object: {
        tinygltf::Value::Object object;
        for (const auto& [key, entry] : json.items()) object.emplace(key, kaGltfValueOfJson(entry));
        return tinygltf::Value(std::move(object));
    }
    default: return tinygltf::Value();
    }
}

void kaMergeGltfExtensions(tinygltf::ExtensionMap& map, const Json& extensions)
{
    if (!extensions.is_object()) return;
    for (const auto& [name, value] : extensions.items()) {
        auto written = map.find(name);
        if (written == map.end()) {
            map.emplace(name, kaGltfValueOfJson(value));
        } else if (written->second.IsObject() && value.is_object()) {
            // The importer read part of it (specular factors): what it left is added back.
            tinygltf::Value::Object members = written->second.Get<tinygltf::Value::Object>();
            for (const auto& [key, member] : value.items()) members.emplace(key, kaGltfValueOfJson(member));
            written->second = tinygltf::Value(std::move(members));
        }
    }
}

std::set<std::string> kaGltfExtensionsUsedIn(const Json& document)
{
    std::set<std::string> used;
    std::vector<const Json*> pending{&document};
    while (!pending.empty()) {
        const Json* at = pending.back();
        pending.pop_back();
        if (at->is_array()) {
            for (const Json& entry : *at) pending.push_back(&entry);
        } else if (at->is_object()) {
            for (auto member = at->begin(); member != at->end(); ++member) {
                if (member.key() == "extras") continue;
                if (member.key() == "extensions" && member->is_object())
                    for (auto extension = member->begin(); extension != member->end(); ++extension)
                        used.insert(extension.key());
                pending.push_back(&*member);
            }
        }
    }
    return used;
}

} // namespace Lode::Io
