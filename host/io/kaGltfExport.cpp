// glTF 2.0 export. The scene graph is walked once to lay out the glTF nodes; meshes, skins and
// materials are built afterwards, when every joint has its node. tinygltf serialises the model;
// the files are written under temporary names first.
#include "host/io/kaGltfExporter.h"

#include "host/core/kaText.h"
#include "host/io/kaSceneCounts.h"
#include "host/sg/kaSceneModel.h"

#include <cctype>

namespace Lode::Io {

std::string validUtf8(const char* text)
{
    std::string result;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; bytes[i];) {
        const unsigned char lead = bytes[i];
        const int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xe ? 3 : (lead >> 3) == 0x1e ? 4 : 0;
        bool valid = length > 0;
        for (int k = 1; valid && k < length; ++k) valid = (bytes[i + k] & 0xc0) == 0x80;
        if (valid) {
            result.append(text + i, length);
            i += length;
        } else {
            result += '?';
            ++i;
        }
    }
    return result;
}

std::string nameOf(const kaNamedObject* object)
{
    return object && object->getName() ? validUtf8(object->getName()) : "";
}

std::string className(const kaObject* object)
{
    const char* name = object->getMetaObject()->getName();
    return name ? name : "an unknown class";
}

std::string uriOfPath(const std::string& path)
{
    static const char* hex = "0123456789ABCDEF";
    std::string uri;
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

kaGltfExporter::kaGltfExporter(const std::string& path, const std::vector<kaExternalDirEntry*>& externalEntries,
                               kaFileCommit& files)
    : _path(path), _folder(kaFolderOf(path)), _warnings(path), _files(files)
{
    const size_t slash = path.find_last_of('/');
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = file.find_last_of('.');
    _stem = dot == std::string::npos ? file : file.substr(0, dot);
    std::string extension = dot == std::string::npos ? "" : file.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    _binary = extension == "glb";
    for (kaExternalDirEntry* entry : externalEntries)
        if (entry && kaImage::dynamicCast(entry->getBoundObject()) && entry->getDirectoryName())
            _externalImages.emplace(entry->getBoundObject(), entry);
    _usedFileNames.insert(file);
    _usedFileNames.insert(_stem + ".bin");
}

void kaGltfExporter::keepExtras(tinygltf::Value& extras, const kaNamedObject* object)
{
    const nlohmann::json parsed = unreadExtras(object);
    if (!parsed.is_discarded()) extras = kaGltfValueOfJson(parsed);
}

nlohmann::json kaGltfExporter::unreadExtras(const kaNamedObject* object)
{
    if (!object || !object->getExtras()) return nlohmann::json::value_t::discarded;
    nlohmann::json parsed = kaParseGltfJson(object->getExtras());
    if (parsed.is_discarded()) _warnings.loss("extras that are not JSON dropped");
    return parsed;
}

nlohmann::json kaGltfExporter::unreadExtensions(const kaNamedObject* object)
{
    if (!object || !object->getExtensions()) return nlohmann::json::object();
    nlohmann::json parsed = kaParseGltfJson(object->getExtensions());
    if (parsed.is_object()) return parsed;
    _warnings.loss("extensions that are not a JSON object dropped");
    return nlohmann::json::object();
}

bool kaGltfExporter::fail(const std::string& message)
{
    if (_error.empty()) _error = _path + ": " + message;
    return false;
}

bool kaGltfExporter::run(kaInfoList* infos, std::string& error)
{
    kaSceneInfo* scene = infos && infos->getCount() > 0 ? kaSceneInfo::dynamicCast(infos->getShared(0)) : nullptr;
    if (!scene) {
        error = _path + ": the scene has no scene info to write";
        return false;
    }
    for (int i = 1; i < infos->getCount(); ++i) {
        if (kaAnimationDatabase* database = kaAnimationDatabase::dynamicCast(infos->getShared(i)))
            _databases.push_back(database);
        else if (infos->getShared(i))
            _warnings.loss("infos of class " + className(infos->getShared(i)) + " dropped");
    }
    _model.asset.version = "2.0";
    _model.asset.generator = "kaopt";
    keepExtras(_model.asset.extras, scene);
    kaMergeGltfExtensions(_model.extensions, unreadExtensions(scene));
    if (scene->getCopyright()) _model.asset.copyright = validUtf8(scene->getCopyright());
    if (const char* required = scene->getRequiredExtensions())
        for (const std::string& name : kaSplit(required, ' '))
            if (!name.empty()) _required.insert(name);
    _model.scenes.resize(1);
    _model.defaultScene = 0;
    kaNode* root = scene->getSceneGraph();
    const kaAttrState none;
    if (root && root->getMetaObject() == kaGroup::getClassMetaSafe()) {
        // A plain group at the top is the scene itself; its children are the scene's nodes.
        _model.scenes[0].name = nameOf(root);
        keepUnread(_model.scenes[0], root);
        exportChildren({static_cast<kaGroup*>(root), -1, none, kaMatrix44f()});
    } else if (root && isMeshTree(root)) {
        placeMesh(-1, root, false, none);
    } else if (root) {
        if (std::optional<kaExportFrame> children = exportNode(root, -1, none, kaMatrix44f()))
            exportChildren(std::move(*children));
    }
    buildMeshes();
    buildAnimations();
    for (kaAnimationDatabase* database : _databases) {
        kaSkeletonList* skeletons = database->getSkeletonList();
        for (int s = 0; s < skeletons->getCount(); ++s)
            if (skeletons->getShared(s) && !_usedSkeletons.count(skeletons->getShared(s)))
                _warnings.loss("skeletons that match no skinned geometry dropped", kaCount::skins);
    }
    if (!_error.empty()) {
        error = _error;
        return false;
    }
    if (!writeFiles(error)) return false;
    _warnings.print();
    return true;
}

bool kaExportGltf(const std::string& path, kaInfoList* infos, std::string& error)
{
    return kaExportGltf(path, infos, {}, error);
}

bool kaExportGltf(const std::string& path, kaInfoList* infos, const std::vector<kaExternalDirEntry*>& externalEntries,
                  std::string& error)
{
    kaFileCommit files;
    return kaExportGltf(path, infos, externalEntries, files, error) && files.commit(error);
}

bool kaExportGltf(const std::string& path, kaInfoList* infos, const std::vector<kaExternalDirEntry*>& externalEntries,
                  kaFileCommit& files, std::string& error)
{
    kaRegisterSceneModel();
    kaGltfExporter exporter(path, externalEntries, files);
    return exporter.run(infos, error);
}

} // namespace Lode::Io
