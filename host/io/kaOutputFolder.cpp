#include "host/io/kaOutputFolder.h"

#include "host/core/kaText.h"
#include "host/core/kaWalk.h"
#include "host/core/kaWarnings.h"
#include "host/gfx/kaImage.h"
#include "host/io/kaExternalImageEntry.h"
#include "host/io/kaImageFiles.h"
#include "host/io/kaKABFile.h"
#include "host/io/kaSceneFile.h"
#include "host/sg/kaGroup.h"

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace Lode::Io {

using namespace Lode::Core;
using Lode::Gfx::kaExternalImageEntry;
using Lode::Gfx::kaImage;
using Lode::Sg::kaNode;

kaOutputFolder::~kaOutputFolder()
{
    std::error_code failed;
    for (auto folder = _madeFolders.rbegin(); folder != _madeFolders.rend(); ++folder)
        if (std::filesystem::is_empty(*folder, failed)) std::filesystem::remove(*folder, failed);
}

void kaOutputFolder::addExternalEntry(kaDirectory& entries, kaExternalDirEntry* entry)
{
    if (!entry) return;
    kaSmartPointer<kaExternalDirEntry> keep = entry;
    entry->setBaseFolder("");
    kaExternalDirEntry* earlier = entries.findExternalEntry(entry->getBoundObject());
    if (earlier == entry) return;
    if (earlier) entries.removeObject(earlier);
    entries.append(entry);
}

kaExternalDirEntry* kaOutputFolder::findBoundEntry(const kaObject* object, const ObjectSet& inPlace,
                                                   const kaDirectory& entries)
{
    return inPlace.count(object) ? nullptr : entries.findExternalEntry(object);
}

std::vector<kaExternalDirEntry*> kaOutputFolder::findUsedExternalEntries(const std::vector<kaObject*>& roots,
                                                                         const ObjectSet& inPlace,
                                                                         const kaDirectory& entries)
{
    std::vector<kaExternalDirEntry*> used;
    // A run that read and made no external files has no entries to find: no walk.
    if (entries.getCount() == 0) return used;
    kaWalkReachable(
        roots,
        [&](kaObject* object) {
            kaExternalDirEntry* bound = findBoundEntry(object, inPlace, entries);
            if (!bound) return kaWalkStep::Into;
            used.push_back(bound);
            return kaWalkStep::Past;
        },
        kaWalkOrder::LastFirst);
    return used;
}

std::vector<kaObject*> kaOutputFolder::findSharedObjects(const std::vector<kaObject*>& roots, const ObjectSet& inPlace,
                                                         const kaDirectory& entries)
{
    std::vector<kaObject*> inOrder;
    std::unordered_map<const kaObject*, int32_t> referencesFromInside;
    const auto bound = [&](const kaObject* object) { return findBoundEntry(object, inPlace, entries) != nullptr; };
    const uint32_t walk = kaWalkReachable(roots, [&](kaObject* current) {
        if (bound(current)) return kaWalkStep::Past;
        inOrder.push_back(current);
        kaForEachReference(current, [&](kaObject* target) {
            if (!bound(target)) ++referencesFromInside[target];
        });
        return kaWalkStep::Into;
    });
    // Inside: reached by the walk and not kept in a file of its own.
    const auto inside = [&](const kaObject* object) { return object && object->isReached(walk) && !bound(object); };
    // A node is shared when a group outside holds it; any other object when something outside
    // holds a reference to it (parent lists, the only lists that hold none, hold only nodes).
    std::vector<kaObject*> shared;
    for (kaObject* candidate : inOrder) {
        if (inPlace.count(candidate)) continue;
        bool heldOutside = false;
        if (const kaNode* node = kaNode::dynamicCast(candidate)) {
            for (int i = 0; i < node->getParentCount() && !heldOutside; ++i) heldOutside = !inside(node->getParent(i));
        } else {
            heldOutside = candidate->getRefCount() > referencesFromInside[candidate];
        }
        if (heldOutside) shared.push_back(candidate);
    }
    return shared;
}

std::vector<std::string> kaOutputFolder::rebaseEntryNames(const std::vector<kaExternalDirEntry*>& used,
                                                          const std::string& writtenPath) const
{
    namespace fs = std::filesystem;
    const fs::path writtenFolder = kaAbsolutePath(kaFolderOf(writtenPath));
    std::vector<std::string> original;
    for (kaExternalDirEntry* entry : used) {
        const char* name = entry->getDirectoryName() ? entry->getDirectoryName() : "";
        original.emplace_back(name);
        const char* base = *entry->getBaseFolder() ? entry->getBaseFolder() : _path.c_str();
        fs::path target = kaAbsolutePath((fs::path(base) / name).string());
        // An image entry names only its file; where this run wrote that file says where it is.
        auto written = _fileOfObject.find(entry->getBoundObject());
        if (written != _fileOfObject.end() && fs::path(written->second).filename() == fs::path(name).filename())
            target = kaAbsolutePath(written->second);
        const fs::path relative = target.lexically_relative(writtenFolder);
        const std::string rebased = relative.empty() ? target.generic_string() : relative.generic_string();
        if (rebased != name) entry->setDirectoryName(rebased.c_str());
    }
    return original;
}

void kaOutputFolder::restoreEntryNames(const std::vector<kaExternalDirEntry*>& used,
                                       const std::vector<std::string>& names)
{
    for (size_t i = 0; i < used.size(); ++i) used[i]->setDirectoryName(names[i].c_str());
}

bool kaOutputFolder::writeObject(kaObject* object, const char* path, bool useExternalEntries, kaDirectory& entries)
{
    if (!object || !path || !*path) {
        _error = "nothing to write, or no file name";
        return false;
    }
    return writeObjects({{"root", object}}, path, useExternalEntries, entries);
}

bool kaOutputFolder::writeObjects(const std::vector<std::pair<std::string, kaObject*>>& named, const std::string& path,
                                  bool useExternalEntries, kaDirectory& entries)
{
    auto file = kaSmartPointer<kaKABFile>::adopt(kaKABFile::_instantiate());
    std::vector<kaObject*> objects;
    ObjectSet inPlace;
    std::set<std::string> entryNames;
    for (const auto& [name, object] : named) {
        auto entry = kaSmartPointer<kaObjectDirEntry>::adopt(kaObjectDirEntry::_instantiate());
        entry->setEntryName(name.c_str());
        entry->setObject(object);
        file->getDirectory()->append(entry);
        objects.push_back(object);
        inPlace.insert(object);
        entryNames.insert(name);
    }
    std::vector<kaExternalDirEntry*> used;
    std::vector<kaObject*> shared;
    if (useExternalEntries) {
        used = findUsedExternalEntries(objects, inPlace, entries);
        shared = findSharedObjects(objects, inPlace, entries);
    }
    std::vector<std::string> sharedNames;
    for (int number = 1; sharedNames.size() < shared.size(); ++number) {
        std::string name = "shared" + std::to_string(number);
        if (!entryNames.count(name)) sharedNames.push_back(std::move(name));
    }
    for (size_t i = 0; i < shared.size(); ++i) {
        auto entry = kaSmartPointer<kaObjectDirEntry>::adopt(kaObjectDirEntry::_instantiate());
        entry->setEntryName(sharedNames[i].c_str());
        entry->setObject(shared[i]);
        file->getDirectory()->append(entry);
    }
    for (kaExternalDirEntry* entry : used) file->getDirectory()->append(entry);
    const std::vector<std::string> names = rebaseEntryNames(used, path);
    std::vector<uint8_t> bytes;
    const bool encoded = file->writeToMemory(bytes);
    restoreEntryNames(used, names);
    if (!encoded) {
        _error = path + ": " + file->getError();
        return false;
    }
    if (!writeOutputFile(objects.front(), path, bytes)) return false;
    // What the rest of the scene shares with the written objects now stands in that file: later
    // files and the saved scene refer to it there, so it stays one object when they are read.
    const std::string relative =
        std::filesystem::path(kaAbsolutePath(path)).lexically_relative(kaAbsolutePath(_path)).generic_string();
    for (size_t i = 0; i < shared.size(); ++i) {
        auto entry = kaSmartPointer<kaExternalDirEntry>::adopt(kaExternalDirEntry::_instantiate());
        entry->setDirectoryName(relative.c_str());
        entry->setEntryName(sharedNames[i].c_str());
        entry->bindObject(shared[i]);
        addExternalEntry(entries, entry);
    }
    return true;
}

bool kaOutputFolder::writeImage(const kaImage* image, const char* path)
{
    if (!image || !path || !*path) {
        _error = "no image, or no file name";
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!Lode::Gfx::kaEncodePngImage(*image, bytes, _error)) {
        _error = std::string(path) + ": " + _error;
        return false;
    }
    return writeOutputFile(image, path, bytes);
}

bool kaOutputFolder::isInsideOutputFolder(const std::string& path) const
{
    namespace fs = std::filesystem;
    std::error_code failed;
    const fs::path folder = fs::weakly_canonical(fs::absolute(folderOrWorking()), failed);
    const fs::path target = fs::weakly_canonical(fs::absolute(path), failed);
    if (failed) return false;
    const fs::path relative = target.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != ".." && relative != ".";
}

bool kaOutputFolder::makeFolders(const std::string& folder)
{
    namespace fs = std::filesystem;
    // The missing folders, innermost first, then made outermost first.
    std::vector<fs::path> missing;
    std::error_code failed;
    for (fs::path place = folder; !place.empty() && !fs::is_directory(place, failed); place = place.parent_path()) {
        missing.push_back(place);
        if (place == place.parent_path()) break;
    }
    for (auto place = missing.rbegin(); place != missing.rend(); ++place) {
        if (!fs::create_directory(*place, failed) && !fs::is_directory(*place)) {
            _error = folder + ": cannot make the folder: " + failed.message();
            return false;
        }
        _madeFolders.push_back(place->string());
    }
    return true;
}

bool kaOutputFolder::putFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    if (_files) return _files->write(path, bytes.data(), bytes.size(), _error);
    kaFileCommit alone;
    return alone.write(path, bytes.data(), bytes.size(), _error) && alone.commit(_error);
}

bool kaOutputFolder::writeOutputFile(const kaObject* object, const std::string& path, const std::vector<uint8_t>& bytes)
{
    namespace fs = std::filesystem;
    if (!isInsideOutputFolder(path)) {
        _error = path + ": lies outside the output folder " + folderOrWorking();
        return false;
    }
    std::error_code failed;
    const std::string key = fs::weakly_canonical(fs::absolute(path), failed).string();
    auto earlier = _objectOfFile.find(key);
    if (earlier != _objectOfFile.end() && earlier->second != object) {
        _error = path + ": already written in this run for another object, which it would replace";
        return false;
    }
    if (!makeFolders(fs::path(path).parent_path().string())) return false;
    if (!putFile(path, bytes)) return false;
    _objectOfFile[key] = object;
    _fileOfObject[object] = path;
    return true;
}

bool kaOutputFolder::writeScene(const std::string& path, kaInfoList* infos, kaDirectory& entries, std::string& error)
{
    if (!kaCheckSceneFormat(path, error)) return false;
    std::vector<kaObject*> roots;
    if (infos)
        for (int i = 0; i < infos->getCount(); ++i) roots.push_back(infos->getShared(i));
    if (!writeInputFilesBeside(findUsedExternalEntries(roots, {}, entries), path, entries)) {
        error = _error;
        return false;
    }
    // Writing the files anew may have given the scene more entries to use.
    const std::vector<kaExternalDirEntry*> used = findUsedExternalEntries(roots, {}, entries);
    if (kaSceneFormatOf(path) != kaSceneFormat::Kab) warnOfUnusedFiles(used, path);
    const std::vector<std::string> names = rebaseEntryNames(used, path);
    const bool written =
        _files ? kaWriteScene(path, infos, used, *_files, error) : kaWriteScene(path, infos, used, error);
    restoreEntryNames(used, names);
    return written;
}

bool kaOutputFolder::writeInputFilesBeside(const std::vector<kaExternalDirEntry*>& used, const std::string& scenePath,
                                           kaDirectory& entries)
{
    namespace fs = std::filesystem;
    const bool kab = kaSceneFormatOf(scenePath) == kaSceneFormat::Kab;
    const std::string folder = kaFolderOf(scenePath);
    std::vector<kaExternalDirEntry*> images;
    // By file name, so that the files are written in an order of their own.
    std::map<std::string, std::vector<kaExternalDirEntry*>> files;
    for (kaExternalDirEntry* entry : used) {
        const std::string base = entry->getBaseFolder(),
                          name = entry->getDirectoryName() ? entry->getDirectoryName() : "";
        const bool image = kaExternalImageEntry::dynamicCast(entry);
        // Entries this run made follow the output already; a name leading out of the input's
        // folder (read only when that is allowed) keeps naming the file where it is.
        if (base.empty() || !kaStaysInside(name, base, base) || (!image && !kab)) continue;
        if (kaAbsolutePath((fs::path(base) / name).string()) == kaAbsolutePath((fs::path(folder) / name).string()))
            continue;
        entry->setBaseFolder(folder.empty() ? "." : folder.c_str());
        if (image)
            images.push_back(entry);
        else
            files[name].push_back(entry);
    }
    for (kaExternalDirEntry* entry : images) {
        auto* image = kaImage::dynamicCast(entry->getBoundObject());
        if (image && !writeImage(image, (fs::path(folder) / entry->getDirectoryName()).string().c_str())) return false;
    }
    for (const auto& [name, named] : files) {
        std::vector<std::pair<std::string, kaObject*>> objects;
        for (kaExternalDirEntry* entry : named)
            objects.emplace_back(entry->getEntryName() ? entry->getEntryName() : "", entry->getBoundObject());
        if (!writeObjects(objects, (fs::path(folder) / name).string(), true, entries)) return false;
    }
    return true;
}

void kaOutputFolder::warnOfUnusedFiles(const std::vector<kaExternalDirEntry*>& used, const std::string& scenePath)
{
    std::set<std::string> unused;
    for (const kaExternalDirEntry* entry : used)
        if (!*entry->getBaseFolder() && !kaExternalImageEntry::dynamicCast(entry) && entry->getDirectoryName())
            unused.insert(entry->getDirectoryName());
    if (unused.empty()) return;
    kaWarn(kaFormat("%s: a glTF file cannot refer to .kab files: it holds the objects itself, and the %zu .kab "
                    "file(s) written for them in this run (%s%s) are not used by it",
                    scenePath.c_str(), unused.size(), unused.begin()->c_str(), unused.size() > 1 ? ", ..." : ""));
}

void kaOutputFolder::makeNameUnique(const char* directory, kaSmartPointer<kaStringObj> name)
{
    if (!name) return;
    std::set<std::string>& handedOut = _handedOutNames[directory ? directory : ""];
    const std::filesystem::path folder = std::filesystem::path(folderOrWorking()) / (directory ? directory : "");
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

bool kaOutputFolder::isFolderWritable(const char* folder)
{
    const char* path = folder && *folder ? folder : ".";
    struct stat status;
    return ::stat(path, &status) == 0 && S_ISDIR(status.st_mode) && ::access(path, W_OK) == 0;
}

} // namespace Lode::Io
