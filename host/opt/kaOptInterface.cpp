#include "host/opt/kaOptInterface.h"

#include "host/core/kaWalk.h"
#include "host/gfx/kaImage.h"
#include "host/io/kaKABFile.h"
#include "host/io/kaSceneFile.h"
#include "host/opt/kaConvertImage.h"
#include "host/opt/kaResizeImage.h"
#include "host/sg/kaGroup.h"

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace Lode::Opt {

KA_IMPLEMENT_CLASS(kaOptInterface)

int kaOptInterface::printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int written = std::vprintf(format, args);
    va_end(args);
    return written;
}

bool kaOptInterface::fflush(std::FILE* stream) { return std::fflush(stream) == 0; }

void kaRegisterHostPasses()
{
    if (kaResizeImage::getClassMeta() && kaResizeImage::getClassMeta()->isFullyRegistered()) return;
    kaResizeImage::getClassMetaSafe()->setSummary(
        "host pass: resamples one image in place by a width and a height factor (kaUseMipmap uses it)");
    kaConvertImage::getClassMetaSafe()->setSummary(
        "host pass: converts one image in place to another pixel format and channel order (kaUseMipmap uses it)");
}

bool kaIsHostPass(const kaMetaObject* meta)
{
    return meta && (meta == kaResizeImage::getClassMeta() || meta == kaConvertImage::getClassMeta());
}

kaOptBase* kaOptInterface::createOptBase(const char* className)
{
    kaRegisterHostPasses();
    kaMetaObject* meta = kaMetaObject::findClass(className);
    if (!meta || !meta->isOfType(kaOptBase::getClassMetaSafe()) || !meta->canCreateInstance()) return nullptr;
    auto* pass = static_cast<kaOptBase*>(meta->createInstance(nullptr));
    pass->setInterface(this);
    return pass;
}

kaOptInterface::RunResult kaOptInterface::runPass(kaOptBase* pass, int section, kaSmartPointer<kaNode>& root,
                                                  kaInfoList* infos, const std::function<bool(bool)>& afterConfigure)
{
    const bool configured = pass->configure(section);
    if (afterConfigure && !afterConfigure(configured)) return RunResult::Stopped;
    if (!configured) return RunResult::Refused;
    pass->applyToInfos(infos);
    if (root && pass->canOptimize(root.get())) pass->apply(root);
    return RunResult::Applied;
}

// ---- files ----

kaFileInfo* kaOptInterface::getFile()
{
    if (!_file) _file = kaSmartPointer<kaFileInfo>::adopt(kaFileInfo::_instantiate());
    return _file;
}

void kaOptInterface::setFile(kaFileInfo* file) { _file = file; }

kaExternalDirEntry* kaOptInterface::getExternalEntry(kaObject* object)
{
    return getFile()->getDirectory()->findExternalEntry(object);
}

void kaOptInterface::addExternalReference(kaExternalDirEntry* entry)
{
    if (!entry) return;
    kaDirectory* directory = getFile()->getDirectory();
    kaSmartPointer<kaExternalDirEntry> keep = entry;
    kaExternalDirEntry* earlier = directory->findExternalEntry(entry->getBoundObject());
    if (earlier && earlier != entry) directory->removeObject(earlier);
    // A registered entry's name follows the output path, whatever file it was read from.
    entry->setBaseFolder("");
    directory->appendUnique(entry);
}

std::unordered_map<const kaObject*, kaExternalDirEntry*> kaOptInterface::findBoundObjects(const kaObject* exclude)
{
    std::unordered_map<const kaObject*, kaExternalDirEntry*> boundTo;
    kaDirectory* directory = getFile()->getDirectory();
    for (int i = 0; i < directory->getCount(); ++i) {
        auto* entry = kaExternalDirEntry::dynamicCast(directory->getShared(i));
        if (entry && entry->getBoundObject() && entry->getBoundObject() != exclude)
            boundTo.emplace(entry->getBoundObject(), entry);
    }
    return boundTo;
}

std::vector<kaExternalDirEntry*> kaOptInterface::findUsedExternalEntries(const std::vector<kaObject*>& roots,
                                                                         const kaObject* exclude)
{
    const std::unordered_map<const kaObject*, kaExternalDirEntry*> boundTo = findBoundObjects(exclude);
    std::vector<kaExternalDirEntry*> used;
    std::unordered_set<const kaObject*> seen;
    std::vector<kaObject*> stack(roots.begin(), roots.end());
    while (!stack.empty()) {
        kaObject* object = stack.back();
        stack.pop_back();
        if (!object || !seen.insert(object).second) continue;
        auto bound = boundTo.find(object);
        if (bound != boundTo.end()) {
            used.push_back(bound->second);
            continue;
        }
        kaForEachReference(object, [&](kaObject* target) {
            if (!seen.count(target)) stack.push_back(target);
        });
    }
    return used;
}

std::vector<std::string> kaOptInterface::rebaseEntryNames(const std::vector<kaExternalDirEntry*>& entries,
                                                          const std::string& writtenPath) const
{
    namespace fs = std::filesystem;
    std::error_code failed;
    const fs::path writtenFolder = fs::absolute(fs::path(writtenPath).parent_path(), failed).lexically_normal();
    std::vector<std::string> original;
    for (kaExternalDirEntry* entry : entries) {
        const char* name = entry->getDirectoryName() ? entry->getDirectoryName() : "";
        original.emplace_back(name);
        const char* base = *entry->getBaseFolder() ? entry->getBaseFolder() : getFilePath();
        fs::path target = fs::absolute(fs::path(base ? base : "") / name, failed).lexically_normal();
        // An image entry names only its file; where this run wrote that file says where it is.
        auto written = _fileOfObject.find(entry->getBoundObject());
        if (written != _fileOfObject.end() && fs::path(written->second).filename() == fs::path(name).filename())
            target = fs::absolute(written->second, failed).lexically_normal();
        const fs::path relative = failed ? fs::path(name) : target.lexically_relative(writtenFolder);
        const std::string rebased = relative.empty() ? target.generic_string() : relative.generic_string();
        if (rebased != name) entry->setDirectoryName(rebased.c_str());
    }
    return original;
}

void kaOptInterface::restoreEntryNames(const std::vector<kaExternalDirEntry*>& entries,
                                       const std::vector<std::string>& names)
{
    for (size_t i = 0; i < entries.size(); ++i) entries[i]->setDirectoryName(names[i].c_str());
}

kaResult kaOptInterface::writeFile(kaObject* object, const char* path, bool useExternalEntries)
{
    if (!object || !path || !*path) {
        _fileError = "nothing to write, or no file name";
        return kFailure;
    }
    auto file = kaSmartPointer<kaKABFile>::adopt(kaKABFile::_instantiate());
    auto rootEntry = kaSmartPointer<kaObjectDirEntry>::adopt(kaObjectDirEntry::_instantiate());
    rootEntry->setEntryName("root");
    rootEntry->setObject(object);
    file->getDirectory()->append(rootEntry);

    std::vector<kaExternalDirEntry*> entries;
    std::vector<kaObject*> shared;
    if (useExternalEntries) {
        entries = findUsedExternalEntries({object}, object);
        shared = findSharedObjects(object);
    }
    for (size_t i = 0; i < shared.size(); ++i) {
        auto entry = kaSmartPointer<kaObjectDirEntry>::adopt(kaObjectDirEntry::_instantiate());
        entry->setEntryName(("shared" + std::to_string(i + 1)).c_str());
        entry->setObject(shared[i]);
        file->getDirectory()->append(entry);
    }
    for (kaExternalDirEntry* entry : entries) file->getDirectory()->append(entry);
    const std::vector<std::string> names = rebaseEntryNames(entries, path);
    std::vector<uint8_t> bytes;
    const bool encoded = file->writeToMemory(bytes);
    restoreEntryNames(entries, names);
    if (!encoded) {
        _fileError = std::string(path) + ": " + file->getError();
        return kFailure;
    }
    if (!writeOutputFile(object, path, bytes)) return kFailure;
    // What the rest of the scene shares with the written object now stands in that file: later
    // files and the saved scene refer to it there, so it stays one object when they are read.
    namespace fs = std::filesystem;
    std::error_code failed;
    const std::string relative =
        fs::absolute(path, failed).lexically_relative(fs::absolute(getFilePath() ? getFilePath() : ".", failed)).generic_string();
    for (size_t i = 0; i < shared.size(); ++i) {
        auto entry = kaSmartPointer<kaExternalDirEntry>::adopt(kaExternalDirEntry::_instantiate());
        entry->setDirectoryName(relative.c_str());
        entry->setEntryName(("shared" + std::to_string(i + 1)).c_str());
        entry->bindObject(shared[i]);
        addExternalReference(entry);
    }
    return kSuccess;
}

std::vector<kaObject*> kaOptInterface::findSharedObjects(kaObject* object)
{
    const std::unordered_map<const kaObject*, kaExternalDirEntry*> boundTo = findBoundObjects(object);
    std::vector<kaObject*> inOrder;
    std::unordered_set<const kaObject*> inside;
    std::unordered_map<const kaObject*, int32_t> referencesFromInside;
    std::vector<kaObject*> stack{object};
    std::vector<kaObject*> targets;
    while (!stack.empty()) {
        kaObject* current = stack.back();
        stack.pop_back();
        if (!inside.insert(current).second) continue;
        inOrder.push_back(current);
        targets.clear();
        kaForEachReference(current, [&](kaObject* target) {
            if (boundTo.count(target)) return;
            ++referencesFromInside[target];
            targets.push_back(target);
        });
        for (auto target = targets.rbegin(); target != targets.rend(); ++target)
            if (!inside.count(*target)) stack.push_back(*target);
    }
    // A node is shared when a group outside holds it; any other object when something outside
    // holds a reference to it (parent lists, the only lists that hold none, hold only nodes).
    std::vector<kaObject*> shared;
    for (kaObject* candidate : inOrder) {
        if (candidate == object) continue;
        bool heldOutside = false;
        if (const kaNode* node = kaNode::dynamicCast(candidate)) {
            for (int i = 0; i < node->getParentCount() && !heldOutside; ++i) heldOutside = !inside.count(node->getParent(i));
        } else {
            heldOutside = candidate->getRefCount() > referencesFromInside[candidate];
        }
        if (heldOutside) shared.push_back(candidate);
    }
    return shared;
}

bool kaOptInterface::writeImage(const Lode::Gfx::kaImage* image, const char* path)
{
    if (!image || !path || !*path) {
        _fileError = "no image, or no file name";
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!image->encodePng(bytes, _fileError)) {
        _fileError = std::string(path) + ": " + _fileError;
        return false;
    }
    return writeOutputFile(image, path, bytes);
}

bool kaOptInterface::isInsideOutputFolder(const std::string& path) const
{
    namespace fs = std::filesystem;
    std::error_code failed;
    const fs::path folder = fs::weakly_canonical(fs::absolute(getFilePath() ? getFilePath() : "."), failed);
    const fs::path target = fs::weakly_canonical(fs::absolute(path), failed);
    if (failed) return false;
    const fs::path relative = target.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != ".." && relative != ".";
}

bool kaOptInterface::makeFolders(const std::string& folder)
{
    namespace fs = std::filesystem;
    if (folder.empty()) return true;
    std::error_code failed;
    if (fs::is_directory(folder, failed)) return true;
    if (!makeFolders(fs::path(folder).parent_path().string())) return false;
    if (!fs::create_directory(folder, failed) && !fs::is_directory(folder)) {
        _fileError = folder + ": cannot make the folder: " + failed.message();
        return false;
    }
    _madeFolders.push_back(folder);
    return true;
}

kaOptInterface::~kaOptInterface()
{
    // Folders made for files that never got into them (a failed write, or an abandoned run).
    std::error_code failed;
    for (auto folder = _madeFolders.rbegin(); folder != _madeFolders.rend(); ++folder)
        if (std::filesystem::is_empty(*folder, failed)) std::filesystem::remove(*folder, failed);
}

bool kaOptInterface::putFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    if (_files) return _files->write(path, bytes.data(), bytes.size(), _fileError);
    kaFileCommit alone;
    return alone.write(path, bytes.data(), bytes.size(), _fileError) && alone.commit(_fileError);
}

bool kaOptInterface::writeOutputFile(const kaObject* object, const std::string& path, const std::vector<uint8_t>& bytes)
{
    namespace fs = std::filesystem;
    if (!isInsideOutputFolder(path)) {
        _fileError = path + ": lies outside the output folder " + (getFilePath() ? getFilePath() : ".");
        return false;
    }
    std::error_code failed;
    const std::string key = fs::weakly_canonical(fs::absolute(path), failed).string();
    auto earlier = _objectOfFile.find(key);
    if (earlier != _objectOfFile.end() && earlier->second != object) {
        _fileError = path + ": already written in this run for another object, which it would replace";
        return false;
    }
    if (!makeFolders(fs::path(path).parent_path().string())) return false;
    if (!putFile(path, bytes)) return false;
    _objectOfFile[key] = object;
    _fileOfObject[object] = path;
    return true;
}

bool kaOptInterface::readScene(const char* path, kaSmartPointer<kaInfoList>& infos, std::string& error)
{
    kaSmartPointer<kaFileInfo> file;
    if (!Lode::Io::kaReadScene(path ? path : "", infos, file, error)) return false;
    setFile(file);
    return true;
}

bool kaOptInterface::writeScene(const char* path, kaInfoList* infos, std::string& error)
{
    std::vector<kaObject*> roots;
    if (infos)
        for (int i = 0; i < infos->getCount(); ++i) roots.push_back(infos->getShared(i));
    const std::vector<kaExternalDirEntry*> entries = findUsedExternalEntries(roots, nullptr);
    const std::vector<std::string> names = rebaseEntryNames(entries, path ? path : "");
    const bool written = _files ? Lode::Io::kaWriteScene(path ? path : "", infos, entries, *_files, error)
                                : Lode::Io::kaWriteScene(path ? path : "", infos, entries, error);
    restoreEntryNames(entries, names);
    return written;
}

void kaOptInterface::makeNameUnique(const char* directory, kaSmartPointer<kaStringObj> name)
{
    if (!name) return;
    std::set<std::string>& handedOut = _handedOutNames[directory ? directory : ""];
    const std::filesystem::path folder = std::filesystem::path(getFilePath() ? getFilePath() : ".") / (directory ? directory : "");
    // A name is free when this run has not handed it out and it is not a file the run read.
    const auto takeIfFree = [&](const std::string& candidate) {
        return !kaFileCommit::isInput((folder / candidate).string()) && handedOut.insert(candidate).second;
    };
    const std::string wanted = name->getString();
    if (takeIfFree(wanted)) return;
    // The variant goes before the extension of the file-name part, so "wall.png" becomes "wall_1.png".
    const size_t slash = wanted.find_last_of("/\\");
    const size_t dot = wanted.find_last_of('.');
    const size_t split = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? dot : wanted.size();
    for (int variant = 1;; ++variant) {
        std::string candidate = wanted.substr(0, split) + "_" + std::to_string(variant) + wanted.substr(split);
        if (takeIfFree(candidate)) {
            name->set(candidate.c_str());
            return;
        }
    }
}

bool kaOptInterface::isFolderWritable(const char* folder) const
{
    const char* path = folder && *folder ? folder : ".";
    struct stat status;
    return ::stat(path, &status) == 0 && S_ISDIR(status.st_mode) && ::access(path, W_OK) == 0;
}

} // namespace Lode::Opt
