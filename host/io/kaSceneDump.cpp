#include "host/io/kaSceneDump.h"

#include "host/attrs/kaGeometryAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/attrs/kaVertexBlendMatrixListAttr.h"
#include "host/core/kaText.h"
#include "host/core/kaWalk.h"
#include "host/gfx/kaImage.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaLightSet.h"
#include "host/sg/kaMorph.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace Lode::Io {

using namespace Lode::Core;
using namespace Lode::Sg;
using namespace Lode::Attrs;
using namespace Lode::Gfx;

namespace {

using json = nlohmann::ordered_json;

// Data blocks up to this many elements show their values; longer ones (vertex, index and pixel
// data) only their element type and count.
constexpr size_t kShownBlockValues = 16;
// Objects nested deeper than this are named but not opened, so that a pathological chain read
// from a file cannot exhaust the stack.
constexpr int kMaxDepth = 200;

// A float as the shortest decimal that reads back as the same float, so that 0.1f shows as 0.1.
json floatValue(float value) { return std::strtod(kaFormatFloat(value).c_str(), nullptr); }

json enumValue(kaMetaEnum* metaEnum, int32_t value)
{
    const char* name = metaEnum ? metaEnum->findName(value) : nullptr;
    return name ? json(name) : json(value);
}

// ---- key facts ----

// The facts of one family of classes (the class and its subclasses). Facts are derived
// values; everything else comes from the fields.
struct kaFactRule {
    kaMetaObject* (*meta)();
    void (*add)(const kaObject* object, json& facts);
};

template <class T> const T& as(const kaObject* object) { return *static_cast<const T*>(object); }

const kaFactRule kFactRules[] = {
    {&kaObjectList::getClassMetaSafe,
     [](const kaObject* o, json& f) { f["count"] = as<kaObjectList>(o).getCount(); }},
    {&kaGroup::getClassMetaSafe, [](const kaObject* o, json& f) { f["children"] = as<kaGroup>(o).getChildCount(); }},
    {&kaAttrSet::getClassMetaSafe, [](const kaObject* o, json& f) { f["attrs"] = as<kaAttrSet>(o).getAttrCount(); }},
    {&kaLightSet::getClassMetaSafe,
     [](const kaObject* o, json& f) { f["lights"] = as<kaLightSet>(o).getLightCount(); }},
    {&kaGeometryAttr::getClassMetaSafe,
     [](const kaObject* o, json& f) {
         const auto& attr = as<kaGeometryAttr>(o);
         f["vertices"] = attr.getVertexCount();
         f["format"] = attr.getVertexFormat().toText();
         f["primitives"] = attr.getPrimitiveCount();
         f["type"] = enumValue(getKA_GFX_DRAWMetaEnum(), attr.getPrimitiveType());
     }},
    {&kaVertexArray::getClassMetaSafe,
     [](const kaObject* o, json& f) {
         const auto& array = as<kaVertexArray>(o);
         f["vertices"] = array.getVertexCount();
         f["format"] = array.getVertexFormat().toText();
     }},
    {&kaIndexArray::getClassMetaSafe,
     [](const kaObject* o, json& f) { f["indices"] = as<kaIndexArray>(o).getCount(); }},
    {&kaImage::getClassMetaSafe,
     [](const kaObject* o, json& f) {
         const auto& image = as<kaImage>(o);
         f["width"] = image.getWidth();
         f["height"] = image.getHeight();
         f["format"] = enumValue(getKA_GFX_TEXTURE_FORMATMetaEnum(), image.getFormat());
         f["bytes"] = image.getSize();
         if (image.isIndexed()) f["palette"] = image.getPaletteEntryCount();
     }},
    {&kaTextureAttr::getClassMetaSafe,
     [](const kaObject* o, json& f) {
         const auto& texture = as<kaTextureAttr>(o);
         f["images"] = texture.getImageCount();
         f["mipmap"] = enumValue(getKA_GFX_TEXTURE_MODEMetaEnum(), texture.getMipMapMode());
     }},
    {&kaVertexBlendMatrixListAttr::getClassMetaSafe,
     [](const kaObject* o, json& f) { f["matrices"] = as<kaVertexBlendMatrixListAttr>(o).getMatrixCount(); }},
    {&kaMorphBase::getClassMetaSafe,
     [](const kaObject* o, json& f) { f["targets"] = as<kaMorphBase>(o).getTargetCount(); }},
    {&kaSkeleton::getClassMetaSafe,
     [](const kaObject* o, json& f) { f["joints"] = as<kaSkeleton>(o).getJointCount(); }},
    {&kaAnimationDatabase::getClassMetaSafe,
     [](const kaObject* o, json& f) {
         const auto& database = as<kaAnimationDatabase>(o);
         f["skeletons"] = database.getSkeletonList()->getCount();
         f["animations"] = database.getAnimationList()->getCount();
         f["infos"] = database.getInfoList()->getCount();
     }},
    {&kaAnimation::getClassMetaSafe,
     [](const kaObject* o, json& f) { f["bindings"] = as<kaAnimation>(o).getBindingCount(); }},
    {&kaAnimationBinding::getClassMetaSafe,
     [](const kaObject* o, json& f) {
         const auto& binding = as<kaAnimationBinding>(o);
         f["translationKeys"] = binding.getTranslationKeyCount();
         f["rotationKeys"] = binding.getRotationKeyCount();
         f["scaleKeys"] = binding.getScaleKeyCount();
     }},
};

// ---- the walk ----

// The fields that make up an object's state: those files store. A named object's name is shown
// beside its class instead.
bool isShownField(const kaMetaField* field)
{
    return !field->isTransient() &&
           !(field->getOwner() == kaNamedObject::getClassMetaSafe() && std::strcmp(field->getName(), "_name") == 0);
}

class kaSceneDumper {
public:
    explicit kaSceneDumper(const kaFileInfo* file)
    {
        const kaDirectory* directory = file ? file->getDirectory() : nullptr;
        for (int i = 0; directory && i < directory->getCount(); ++i)
            if (auto* entry = kaExternalDirEntry::dynamicCast(directory->getShared(i)))
                if (entry->getBoundObject() && entry->getDirectoryName())
                    _externalFiles.emplace(entry->getBoundObject(), entry->getDirectoryName());
    }

    json dump(const std::string& title, const kaInfoList* infos)
    {
        std::vector<kaObject*> roots;
        for (int i = 0; infos && i < infos->getCount(); ++i) roots.push_back(infos->getShared(i));
        countReferences(roots);
        json document;
        document["scene"] = title;
        document["objectCount"] = _incoming.size();
        json& shownInfos = document["infos"] = json::array();
        for (kaObject* info : roots) shownInfos.push_back(objectValue(info, 0));
        return document;
    }

private:
    // How many references lead to each reachable object, a root counting as one: an object with
    // two or more is shared.
    void countReferences(const std::vector<kaObject*>& roots)
    {
        std::vector<kaObject*> pending;
        auto reach = [&](kaObject* object) {
            if (object && _incoming[object]++ == 0) pending.push_back(object);
        };
        for (kaObject* root : roots) reach(root);
        while (!pending.empty()) {
            kaObject* object = pending.back();
            pending.pop_back();
            kaForEachReference(object, reach);
        }
    }

    bool isShared(const kaObject* object) const
    {
        auto found = _incoming.find(object);
        return found != _incoming.end() && found->second > 1;
    }

    // The one field of a container (a list, a data list, a string object, a matrix object),
    // which an owner that holds the container alone shows in its place; null for other classes.
    static const kaMetaField* containerField(const kaObject* object)
    {
        const kaMetaObject* meta = object->getMetaObject();
        const kaMetaField* only = nullptr;
        for (int i = 0; i < meta->getMetaFieldCount(); ++i) {
            const kaMetaField* field = meta->getIndexedMetaField(i);
            if (field->isTransient()) continue;
            if (only) return nullptr;
            only = field;
        }
        if (!only) return nullptr;
        switch (only->getKind()) {
        case kaFieldKind::ObjectList:
        case kaFieldKind::DataBlock:
        case kaFieldKind::String:
        case kaFieldKind::FloatArray:
            return only;
        default:
            return nullptr;
        }
    }

    json objectValue(const kaObject* object, int depth)
    {
        if (!object) return nullptr;
        const bool shared = isShared(object);
        if (shared) {
            auto known = _ids.find(object);
            if (known != _ids.end()) {
                json see = identity(object);
                see["see"] = known->second;
                return see;
            }
        }
        json shown = identity(object);
        if (depth > kMaxDepth) {
            shown["truncated"] = true;
            return shown;
        }
        if (!shared)
            if (const kaMetaField* field = containerField(object)) return fieldValue(object, field, depth);
        // Numbered before its fields are opened, so that a cycle back to it finds the number.
        if (shared) {
            const int id = static_cast<int>(_ids.size()) + 1;
            _ids[object] = id;
            shown["id"] = id;
        }
        json facts = json::object();
        auto external = _externalFiles.find(object);
        if (external != _externalFiles.end()) facts["external"] = external->second;
        for (const kaFactRule& rule : kFactRules)
            if (object->isOfType(rule.meta())) rule.add(object, facts);
        if (!facts.empty()) shown["facts"] = std::move(facts);
        json fields = json::object();
        const kaMetaObject* meta = object->getMetaObject();
        for (int i = 0; i < meta->getMetaFieldCount(); ++i) {
            const kaMetaField* field = meta->getIndexedMetaField(i);
            if (isShownField(field) && !isAtDefault(object, field, 0))
                fields[field->getName()] = fieldValue(object, field, depth);
        }
        if (!fields.empty()) shown["fields"] = std::move(fields);
        return shown;
    }

    static json identity(const kaObject* object)
    {
        json shown;
        shown["class"] = object->getMetaObject()->getName();
        if (auto* named = kaNamedObject::dynamicCast(object))
            if (named->getName()) shown["name"] = named->getName();
        return shown;
    }

    json fieldValue(const kaObject* object, const kaMetaField* field, int depth)
    {
        switch (field->getKind()) {
        case kaFieldKind::Bool:
            return static_cast<const kaBoolMetaField*>(field)->get(object);
        case kaFieldKind::Int:
            return static_cast<const kaIntMetaField*>(field)->get(object);
        case kaFieldKind::UnsignedInt:
            return static_cast<const kaUnsignedIntMetaField*>(field)->get(object);
        case kaFieldKind::Float:
            return floatValue(static_cast<const kaFloatMetaField*>(field)->get(object));
        case kaFieldKind::Enum: {
            auto* enumField = static_cast<const kaEnumMetaField*>(field);
            return enumValue(enumField->getMetaEnum(), enumField->get(object));
        }
        case kaFieldKind::String: {
            const char* text = static_cast<const kaStringMetaField*>(field)->get(object);
            return text ? json(text) : json(nullptr);
        }
        case kaFieldKind::FloatArray: {
            auto* arrayField = static_cast<const kaFloatArrayMetaField*>(field);
            json values = json::array();
            const float* floats = arrayField->get(object);
            for (int i = 0; i < arrayField->getCount(); ++i) values.push_back(floatValue(floats[i]));
            return values;
        }
        case kaFieldKind::ObjectRef:
            return objectValue(static_cast<const kaObjectRefMetaField*>(field)->get(object), depth + 1);
        case kaFieldKind::ObjectList: {
            json entries = json::array();
            for (const kaObject* entry : static_cast<const kaObjectListMetaField*>(field)->get(object))
                entries.push_back(objectValue(entry, depth + 1));
            return entries;
        }
        case kaFieldKind::DataBlock:
            return blockValue(object, static_cast<const kaDataBlockMetaField*>(field));
        }
        return nullptr;
    }

    static json blockValue(const kaObject* object, const kaDataBlockMetaField* field)
    {
        const size_t count = field->getByteSize(object) / field->getElementSize();
        json block;
        block["type"] = field->getElementTypeName();
        block["count"] = count;
        if (count == 0 || count > kShownBlockValues) return block;
        json& values = block["values"] = json::array();
        const auto* bytes = static_cast<const uint8_t*>(field->getBytes(object));
        const std::string type = field->getElementTypeName();
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* element = bytes + i * field->getElementSize();
            if (type == "float") values.push_back(floatValue(read<float>(element)));
            else if (type == "int") values.push_back(read<int32_t>(element));
            else if (type == "unsigned") values.push_back(read<uint32_t>(element));
            else if (type == "uint16") values.push_back(read<uint16_t>(element));
            else values.push_back(*element);
        }
        return block;
    }

    template <class T> static T read(const uint8_t* bytes)
    {
        T value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }

    // True when the field holds what a new object of its class holds: its declared default, no
    // reference, no data, or an empty container made with the object and held by it alone.
    bool isAtDefault(const kaObject* object, const kaMetaField* field, int depth) const
    {
        switch (field->getKind()) {
        case kaFieldKind::ObjectRef: {
            auto* refField = static_cast<const kaObjectRefMetaField*>(field);
            const kaObject* target = refField->get(object);
            return !target || (refField->getConstruct() && !isShared(target) && isEmpty(target, depth + 1));
        }
        case kaFieldKind::ObjectList:
            return static_cast<const kaObjectListMetaField*>(field)->get(object).empty();
        case kaFieldKind::DataBlock:
            return static_cast<const kaDataBlockMetaField*>(field)->getByteSize(object) == 0;
        default:
            return field->toText(object) == field->getDefaultText();
        }
    }

    // An object whose every field is at its default. Constructed containers nest only a few
    // levels; a file that chains them deeper is simply shown.
    bool isEmpty(const kaObject* object, int depth) const
    {
        if (depth > 8) return false;
        const kaMetaObject* meta = object->getMetaObject();
        for (int i = 0; i < meta->getMetaFieldCount(); ++i) {
            const kaMetaField* field = meta->getIndexedMetaField(i);
            if (!field->isTransient() && !isAtDefault(object, field, depth)) return false;
        }
        return true;
    }

    std::unordered_map<const kaObject*, int> _incoming;
    std::unordered_map<const kaObject*, int> _ids;
    std::unordered_map<const kaObject*, std::string> _externalFiles;
};

// ---- text ----

// A value as JSON writes it, except that numbers are written as short as they read back
// (1 rather than 1.0).
std::string literal(const json& value)
{
    if (value.is_number_float()) return kaFormatFloat(value.get<double>());
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool isObjectNode(const json& value) { return value.is_object() && value.contains("class"); }
bool isBlock(const json& value) { return value.is_object() && value.contains("type"); }

std::string header(const json& node)
{
    std::string line = node["class"].get<std::string>();
    if (node.contains("name")) line += " " + literal(node["name"]);
    if (node.contains("see")) return line + " (shared, see #" + literal(node["see"]) + ")";
    if (node.contains("id")) line += " #" + literal(node["id"]) + " (shared)";
    if (node.contains("truncated")) line += " (deeper levels not shown)";
    if (node.contains("facts")) {
        line += " ";
        for (const auto& [key, value] : node["facts"].items()) line += " " + key + "=" + literal(value);
    }
    return line;
}

std::string inlineText(const json& value)
{
    if (!isBlock(value)) return literal(value);
    std::string text = value["type"].get<std::string>() + "[" + literal(value["count"]) + "]";
    if (value.contains("values")) {
        const char* separator = " ";
        for (const json& element : value["values"]) {
            text += separator + literal(element);
            separator = ", ";
        }
    }
    return text;
}

// One value under a label ("_field: " or "[3] ") at an indentation; nested values go two
// columns further in.
void renderText(std::string& out, int indent, const std::string& label, const json& value)
{
    const std::string pad(indent, ' ');
    if (isObjectNode(value)) {
        out += pad + label + header(value) + "\n";
        if (value.contains("fields"))
            for (const auto& [name, field] : value["fields"].items()) renderText(out, indent + 2, name + ": ", field);
    } else if (value.is_array()) {
        bool allPrimitive = true;
        for (const json& entry : value) allPrimitive = allPrimitive && entry.is_primitive();
        if (value.empty()) {
            out += pad + label + "(none)\n";
        } else if (allPrimitive) {
            std::string text;
            for (const json& entry : value) text += (text.empty() ? "" : ", ") + literal(entry);
            out += pad + label + text + "\n";
        } else {
            out += pad + label.substr(0, label.find_last_not_of(' ') + 1) + "\n";
            for (size_t i = 0; i < value.size(); ++i)
                renderText(out, indent + 2, "[" + std::to_string(i) + "] ", value[i]);
        }
    } else {
        out += pad + label + inlineText(value) + "\n";
    }
}

} // namespace

std::string kaDumpScene(const std::string& title, const kaInfoList* infos, const kaFileInfo* file,
                        kaDumpFormat format)
{
    const json document = kaSceneDumper(file).dump(title, infos);
    if (format == kaDumpFormat::Json) return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    const json& shownInfos = document["infos"];
    std::string out = title + ": " + std::to_string(shownInfos.size()) + " infos, " +
                      literal(document["objectCount"]) + " objects\n";
    for (size_t i = 0; i < shownInfos.size(); ++i) renderText(out, 0, "[" + std::to_string(i) + "] ", shownInfos[i]);
    return out;
}

} // namespace Lode::Io
