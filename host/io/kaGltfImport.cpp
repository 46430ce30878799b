// glTF 2.0 import: tinygltf parses the file; everything read from its buffers is checked
// (kaGltfImportAccessors.cpp) against the buffers' real sizes before it is used, since tinygltf
// itself does not check the accessors and buffer views of a damaged or hostile file.
#include "host/io/kaGltfImporter.h"

#include "host/core/kaFileCommit.h"
#include "host/io/kaGltfBuffers.h"
#include "host/io/kaGltfExtensions.h"
#include "host/sg/kaSceneModel.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <string_view>

namespace Lode::Io {

namespace {

// A file larger than this is refused before it is read: tinygltf counts bytes in 32 bits.
constexpr uint64_t kaMaxGltfFileBytes = uint64_t(INT32_MAX);

// ---- files the parser may read ----

// External buffers and images are read only when the caller names a folder for them, and only
// where kaReferenceRefusal lets the input reach.
struct kaFileAccess {
    bool allowed = false;
    std::string input;
    std::string folder;
    std::string refused;  // why the first reference refused was not read
};

bool fileExists(const std::string& path, void* user)
{
    struct stat status;
    return static_cast<kaFileAccess*>(user)->allowed && !path.empty() &&
           ::stat(kaFileCommit::readablePath(path).c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// tinygltf asks for the input's folder joined with the URI, then for the working folder joined
// with it. The first is the reference, checked here ("": not to be read), where an absolute URI
// stands for itself; the second is looked at only when any place may be read.
std::string expandFilePath(const std::string& path, void* user)
{
    auto& access = *static_cast<kaFileAccess*>(user);
    const std::string prefix = !access.folder.empty() && access.folder.back() == '/' ? access.folder : access.folder + "/";
    if (path.rfind(prefix, 0) != 0) return kaOutsideReferencesAllowed() ? path : "";
    const std::string uri = path.substr(prefix.size());
    const std::string refusal = kaReferenceRefusal(uri, access.folder, access.folder, "the folder of " + access.input);
    if (refusal.empty()) return !uri.empty() && uri.front() == '/' ? uri : path;
    if (access.refused.empty()) access.refused = access.input + ": the uri '" + uri + "' " + refusal;
    return "";
}

bool readWholeFile(std::vector<unsigned char>* out, std::string* error, const std::string& path, void* user)
{
    if (!static_cast<kaFileAccess*>(user)->allowed) {
        *error = "external files are not read for a file held in memory";
        return false;
    }
    std::ifstream in(kaFileCommit::readablePath(path), std::ios::binary | std::ios::ate);
    if (!in) {
        *error = std::string("cannot open the file: ") + std::strerror(errno);
        return false;
    }
    kaFileCommit::noteInput(path);
    const std::streamoff size = in.tellg();
    if (size < 0 || uint64_t(size) > kaMaxGltfFileBytes) {
        *error = "the file is too large";
        return false;
    }
    out->resize(static_cast<size_t>(size));
    in.seekg(0);
    if (size > 0 && !in.read(reinterpret_cast<char*>(out->data()), size)) {
        *error = "cannot read the file";
        return false;
    }
    return true;
}

bool refuseWrite(std::string* error, const std::string&, const std::vector<unsigned char>&, void*)
{
    *error = "the importer writes no files";
    return false;
}

bool captureImage(tinygltf::Image* image, const int index, std::string*, std::string*, int, int,
                  const unsigned char* bytes, int size, void* user)
{
    if (image->bufferView < 0 && bytes && size > 0)
        static_cast<kaCapturedImages*>(user)->bytes[index].assign(bytes, bytes + size);
    return true;
}

// One line per reason: tinygltf ends its messages with line breaks.
std::string oneLine(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    std::string line;
    for (char c : text) {
        if (c == '\n')
            line += "; ";
        else if (c != '\r')
            line += c;
    }
    return line;
}

std::string fileStem(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

} // namespace

bool kaGltfImporter::fail(const std::string& message)
{
    if (_error.empty()) _error = _file + ": " + message;
    return false;
}

bool kaGltfImporter::run(kaSmartPointer<kaInfoList>& infos)
{
    for (const std::string& extension : _model.extensionsRequired)
        if (!kaIsSupportedGltfExtension(extension))
            return fail("the file requires the extension " + extension + ", which is not supported");
    if (!checkNodes() || !buildNodes()) return false;

    const int sceneIndex = _model.defaultScene >= 0 && size_t(_model.defaultScene) < _model.scenes.size() ? _model.defaultScene
                           : _model.scenes.empty()                                                    ? -1
                                                                                                      : 0;
    auto root = make<kaGroup>(sceneIndex >= 0 ? _model.scenes[sceneIndex].name : "");
    if (sceneIndex >= 0) kaKeepUnread(root.get(), _model.scenes[sceneIndex]);
    if (sceneIndex >= 0) {
        for (int node : _model.scenes[sceneIndex].nodes) {
            if (node < 0 || size_t(node) >= _nodes.size())
                return fail("scene " + std::to_string(sceneIndex) + " has node " + std::to_string(node) +
                            ", which does not exist");
            root->appendChild(_nodes[node]);
        }
    } else {
        // A file without scenes still shows its node trees.
        for (size_t i = 0; i < _nodes.size(); ++i)
            if (_parents[i] == -1) root->appendChild(_nodes[i]);
    }
    // Meshes, materials and images used by no node are still read, so that a damaged one is
    // refused whether or not it is placed.
    for (size_t m = 0; m < _model.meshes.size(); ++m)
        if (_meshNodes.lower_bound({int(m), INT32_MIN}) == _meshNodes.upper_bound({int(m), INT32_MAX}) &&
            !meshNode(static_cast<int>(m), -1, ""))
            return false;
    _decodes.wait();
    for (const std::string& failure : _decodeFailures)
        if (!failure.empty()) return fail(failure);
    if (!_error.empty()) return false;

    const std::string stem = fileStem(_file);
    auto scene = make<kaSceneInfo>(stem);
    scene->setSceneGraph(root);
    // The scene info stands for the file: the asset's extras, the file's own extensions and the
    // extensions it requires.
    const std::string extras = kaGltfExtrasText(_model.asset.extras_json_string);
    if (!extras.empty()) scene->setExtras(extras.c_str());
    if (!_model.asset.extensions_json_string.empty()) _warnings.loss("extensions of the asset dropped");
    const std::string extensions = kaUnreadGltfExtensions(_model.extensions_json_string, {kaGltfLightsExtension});
    scene->setExtensions(extensions.empty() ? nullptr : extensions.c_str());
    std::string required;
    for (const std::string& extension : _model.extensionsRequired) required += (required.empty() ? "" : " ") + extension;
    if (!required.empty()) scene->setRequiredExtensions(required.c_str());
    if (!_model.asset.copyright.empty()) scene->setCopyright(_model.asset.copyright.c_str());
    if (_model.scenes.size() > 1) _warnings.loss("scenes other than the default dropped");
    const auto hasUnread = [](const auto& objects) {
        return std::any_of(objects.begin(), objects.end(), [](const auto& o) {
            return !o.extras_json_string.empty() || !o.extensions_json_string.empty();
        });
    };
    // Buffers are laid out anew on export: what their parts carried has no place to go.
    if (hasUnread(_model.accessors) || hasUnread(_model.bufferViews) || hasUnread(_model.buffers))
        _warnings.loss("extras and extensions of accessors, buffer views and buffers dropped");
    if (!_model.extras_json_string.empty() && _model.extras_json_string != "null")
        _warnings.loss("extras of the file's top level dropped");
    auto list = make<kaInfoList>();
    list->append(scene);
    if (!_model.skins.empty() || !_model.animations.empty()) {
        auto database = make<kaAnimationDatabase>(stem);
        if (!buildSkeletons(database) || !buildAnimations(database)) return false;
        if (database->getSkeletonList()->getCount() > 0 || database->getAnimationList()->getCount() > 0)
            list->append(database);
    }
    infos = list;
    return true;
}

namespace {

// The chunks of a .glb, as tinygltf checks them; false when they do not add up, and tinygltf
// then reads the file whole and says what is wrong. A binary chunk that claims more than the
// file holds is cut to what it holds.
bool glbChunks(const uint8_t* data, size_t size, std::string_view& json, const uint8_t*& chunk, size_t& chunkSize)
{
    const auto word = [data](size_t at) {
        uint32_t value;
        std::memcpy(&value, data + at, 4);
        return value;
    };
    if (size < 20 || std::memcmp(data, "glTF", 4) != 0) return false;
    const uint64_t length = word(8), jsonLength = word(12), headerAndJson = 20 + jsonLength;
    if (headerAndJson > size || jsonLength < 1 || length > size || headerAndJson > length || word(16) != 0x4E4F534A)
        return false;
    json = std::string_view(reinterpret_cast<const char*>(data) + 20, jsonLength);
    chunk = nullptr;
    chunkSize = 0;
    if (headerAndJson == length) return true;
    if (headerAndJson + 12 > length) return false;
    const uint64_t chunkLength = word(headerAndJson);
    if (chunkLength < 4 || chunkLength % 4 != 0 || chunkLength + headerAndJson > length ||
        word(headerAndJson + 4) != 0x004e4942)
        return false;
    chunk = data + headerAndJson + 8;
    chunkSize = static_cast<size_t>(std::min<uint64_t>(chunkLength, size - headerAndJson - 8));
    return true;
}

// A buffer in a file of its own, found as tinygltf finds external files (beside the input, then
// in the working folder, where kaReferenceRefusal lets the input reach) and mapped.
bool mapBufferFile(const std::string& uri, uint64_t length, kaFileAccess& access, kaGltfBuffers& buffers,
                   std::string& error)
{
    const std::string decoded = kaGltfDecodeUri(uri);
    std::string path;
    for (const std::string& folder : {access.folder, std::string(".")}) {
        const std::string joined = folder.empty()         ? decoded
                                   : folder.back() == '/' ? folder + decoded
                                                          : folder + "/" + decoded;
        const std::string expanded = expandFilePath(joined, &access);
        if (fileExists(expanded, &access)) {
            path = expanded;
            break;
        }
    }
    if (path.empty() || decoded.empty()) {
        error = "File not found : " + decoded;
        return false;
    }
    auto file = std::make_unique<kaGltfMappedFile>();
    std::string reason;
    if (!file->open(kaFileCommit::readablePath(path), reason)) {
        error = "File read error : " + path + " : " + reason;
        return false;
    }
    kaFileCommit::noteInput(path);
    if (file->size() == 0) {
        error = "File is empty : " + path;
        return false;
    }
    if (file->size() != length) {
        error = "File size mismatch : " + path + ", requestedBytes " + std::to_string(length) + ", but got " +
                std::to_string(file->size());
        return false;
    }
    buffers.add(file->data(), file->size());
    buffers.keep(std::move(file));
    return true;
}

// The bytes of every buffer: tinygltf's for those it read (data URIs, or all of them when the
// plan was not made), the binary chunk's or a mapped file's for the others.
bool collectBuffers(const tinygltf::Model& model, const kaGltfBufferPlan* plan, const uint8_t* chunk, size_t chunkSize,
                    kaFileAccess& access, kaGltfBuffers& buffers, std::string& error)
{
    for (size_t i = 0; i < model.buffers.size(); ++i) {
        if (!plan || !plan->fromFile[i]) {
            buffers.add(model.buffers[i].data.data(), model.buffers[i].data.size());
        } else if (!plan->uris[i].empty()) {
            if (!mapBufferFile(plan->uris[i], plan->lengths[i], access, buffers, error)) return false;
        } else if (!chunk) {
            error = "Invalid binary data in `Buffer', or GLB with empty BIN chunk.";
            return false;
        } else if (plan->lengths[i] > chunkSize) {
            error = "Invalid `byteLength'. Must be equal or less than binary size: `byteLength' = " +
                    std::to_string(plan->lengths[i]) + ", binary size = " + std::to_string(chunkSize);
            return false;
        } else {
            buffers.add(chunk, static_cast<size_t>(plan->lengths[i]));
        }
    }
    return true;
}

bool importModel(const uint8_t* data, size_t size, const std::string& name, const std::string& folder,
                 std::unique_ptr<kaGltfMappedFile> mapped, kaGltfImportData read, kaSmartPointer<kaInfoList>& infos,
                 std::string& error)
{
    kaRegisterSceneModel();
    if (size > kaMaxGltfFileBytes) {
        error = name + ": the file is too large";
        return false;
    }
    tinygltf::TinyGLTF loader;
    loader.SetStoreOriginalJSONForExtrasAndExtensions(true);
    kaFileAccess access{!folder.empty(), name, folder, ""};
    loader.SetFsCallbacks({&fileExists, &expandFilePath, &readWholeFile, &refuseWrite, &access});
    kaCapturedImages captured;
    loader.SetImageLoader(&captureImage, &captured);
    tinygltf::Model model;
    std::string parseError, parseWarning;
    bool parsed = false;
    const bool binary = size >= 4 && std::memcmp(data, "glTF", 4) == 0;
    std::string_view json(reinterpret_cast<const char*>(data), size);
    const uint8_t* chunk = nullptr;
    size_t chunkSize = 0;
    kaGltfBufferPlan plan;
    bool planned = false;
    try {
        const bool jsonFound = !binary || glbChunks(data, size, json, chunk, chunkSize);
        // tinygltf tells of text that is not JSON only that its root is not an object, and it
        // recurses into the values it keeps: both are looked at first.
        if (jsonFound) parseError = kaGltfJsonError(json);
        if (parseError.empty()) {
            planned = jsonFound && kaPlanGltfBuffers(json, binary, plan);
            parsed = planned  ? loader.LoadASCIIFromString(&model, &parseError, &parseWarning, plan.json.data(),
                                                           static_cast<unsigned int>(plan.json.size()), folder)
                     : binary ? loader.LoadBinaryFromMemory(&model, &parseError, &parseWarning, data,
                                                            static_cast<unsigned int>(size), folder)
                              : loader.LoadASCIIFromString(&model, &parseError, &parseWarning,
                                                           reinterpret_cast<const char*>(data),
                                                           static_cast<unsigned int>(size), folder);
        }
    } catch (const std::exception& exception) {
        parseError = exception.what();
        parsed = false;
    }
    kaGltfBuffers buffers;
    if (parsed && !collectBuffers(model, planned ? &plan : nullptr, chunk, chunkSize, access, buffers, parseError))
        parsed = false;
    if (!access.refused.empty()) {
        error = access.refused;
        return false;
    }
    if (!parsed) {
        error = name + ": " + (parseError.empty() ? std::string("not a glTF file") : oneLine(parseError));
        return false;
    }
    if (mapped) buffers.keep(std::move(mapped));
    kaGltfImporter importer(model, name, captured, buffers, read);
    if (!importer.run(infos)) {
        error = importer.getError();
        return false;
    }
    importer.printWarnings();
    return true;
}

} // namespace

bool kaImportGltf(const std::string& path, kaSmartPointer<kaInfoList>& infos, std::string& error, kaGltfImportData read)
{
    // The file is mapped: its buffers are copied once, straight into the engine's arrays.
    auto file = std::make_unique<kaGltfMappedFile>();
    std::string reason;
    if (!file->open(kaFileCommit::readablePath(path), reason)) {
        error = path + ": " + reason;
        return false;
    }
    kaFileCommit::noteInput(path);
    if (file->size() > kaMaxGltfFileBytes) {
        error = path + ": the file is too large";
        return false;
    }
    const std::string folder = kaFolderOf(path);
    const uint8_t* data = file->data();
    const size_t size = file->size();
    return importModel(data, size, path, folder.empty() ? "." : folder, std::move(file), read, infos, error);
}

bool kaImportGltfFromMemory(const uint8_t* data, size_t size, const std::string& name, const std::string& folder,
                            kaSmartPointer<kaInfoList>& infos, std::string& error)
{
    return importModel(data, size, name, folder, nullptr, kaGltfImportData::Whole, infos, error);
}

} // namespace Lode::Io
