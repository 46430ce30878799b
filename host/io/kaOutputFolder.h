// Every file a run writes: the output folder they must stay inside and the folders made on the
// way, the names handed out, the external entries by which files and the saved scene refer to
// objects kept in files of their own, and the run's commit that they join.
#pragma once

#include "host/core/kaFileCommit.h"
#include "host/core/kaStringObj.h"
#include "host/io/kaDirectory.h"
#include "host/sg/kaInfo.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace Lode::Gfx {
class kaImage;
}

namespace Lode::Io {

using Lode::Core::kaDirectory;
using Lode::Core::kaExternalDirEntry;
using Lode::Core::kaFileCommit;
using Lode::Core::kaObject;
using Lode::Core::kaSmartPointer;
using Lode::Core::kaStringObj;
using Lode::Sg::kaInfoList;

class kaOutputFolder {
public:
    kaOutputFolder() = default;
    kaOutputFolder(const kaOutputFolder&) = delete;
    kaOutputFolder& operator=(const kaOutputFolder&) = delete;
    // Removes the folders made for files that never got into them (a failed write, or an
    // abandoned run), so that a failed run leaves none behind.
    ~kaOutputFolder();

    // The folder; empty: there is none, and files go inside the working folder.
    const std::string& getPath() const { return _path; }
    void setPath(std::string path) { _path = std::move(path); }

    // The set that every file of a run joins, so that they appear together when the run commits
    // it; null (the default): each file is put in place as soon as it is written. The set must
    // outlive the writes.
    void setFileCommit(kaFileCommit* files) { _files = files; }
    // Why the last write failed.
    const std::string& getError() const { return _error; }

    // Lists an entry bound to an object in entries; it replaces an earlier entry for the same
    // object. Its name follows the output folder, whatever file it was read from.
    static void addExternalEntry(kaDirectory& entries, kaExternalDirEntry* entry);

    // Writes object, and what it refers to, to a .kab file whose entry "root" holds it. With
    // useExternalEntries, what it refers to that an entry of entries is bound to is written as a
    // reference to that entry, and what the rest of the scene shares with it gets an entry in
    // entries that names this file.
    bool writeObject(kaObject* object, const char* path, bool useExternalEntries, kaDirectory& entries);
    // Writes an image as a PNG file.
    bool writeImage(const Lode::Gfx::kaImage* image, const char* path);
    // Saves the scene with the entries of entries that it uses, first writing the files of those
    // read with the input anew beside a scene saved in another folder; a glTF scene, which holds
    // all but images itself, warns of the .kab files written for it.
    bool writeScene(const std::string& path, kaInfoList* infos, kaDirectory& entries, std::string& error);

    // Changes the file name in place so that it differs from every name handed out before for
    // that directory (null: none) and from the files the run read, by a "_N" put before its
    // extension, and records it.
    void makeNameUnique(const char* directory, kaSmartPointer<kaStringObj> name);
    // True when the folder (null or empty: the working folder) exists and can be written to.
    static bool isFolderWritable(const char* folder);
    // Makes the folder and the missing ones above it; false, with the reason in getError, when one
    // cannot be made.
    bool makeFolders(const std::string& folder);

private:
    using ObjectSet = std::unordered_set<const kaObject*>;
    // The entry of entries bound to object, or null; objects written in place have none.
    static kaExternalDirEntry* findBoundEntry(const kaObject* object, const ObjectSet& inPlace,
                                              const kaDirectory& entries);
    // What roots refer to (not through bound objects) that is also held from outside them, in
    // the order a walk from them meets it.
    static std::vector<kaObject*> findSharedObjects(const std::vector<kaObject*>& roots, const ObjectSet& inPlace,
                                                    const kaDirectory& entries);
    // The entries bound to objects reachable from roots (without passing through a bound
    // object), in the order in which files list them.
    static std::vector<kaExternalDirEntry*>
    findUsedExternalEntries(const std::vector<kaObject*>& roots, const ObjectSet& inPlace, const kaDirectory& entries);
    // Writes objects to one .kab file, each under its entry name, as writeObject writes one.
    bool writeObjects(const std::vector<std::pair<std::string, kaObject*>>& named, const std::string& path,
                      bool useExternalEntries, kaDirectory& entries);
    // For writeScene: the files of entries read with the input, written beside the scene when it
    // goes to another folder; the entries then name those.
    bool writeInputFilesBeside(const std::vector<kaExternalDirEntry*>& used, const std::string& scenePath,
                               kaDirectory& entries);
    static void warnOfUnusedFiles(const std::vector<kaExternalDirEntry*>& used, const std::string& scenePath);
    // Entries name files relative to the folder they were read from, or else to the output
    // folder; a file written elsewhere needs them relative to its own folder. Returns the
    // entries' names as they were, for restoreEntryNames.
    std::vector<std::string> rebaseEntryNames(const std::vector<kaExternalDirEntry*>& used,
                                              const std::string& writtenPath) const;
    static void restoreEntryNames(const std::vector<kaExternalDirEntry*>& used, const std::vector<std::string>& names);

    // The one way files reach the disk. The path must lie inside the output folder (the working
    // folder when there is none), whatever names it was made from; missing folders on the way
    // are made. object is what the file holds: a second object written to the same file in one
    // run would silently take the first one's place, so it is refused.
    bool writeOutputFile(const kaObject* object, const std::string& path, const std::vector<uint8_t>& bytes);
    bool isInsideOutputFolder(const std::string& path) const;
    // Puts the bytes at path through the run's set, or at once when there is none; either way
    // the file there is replaced whole or not at all.
    bool putFile(const std::string& path, const std::vector<uint8_t>& bytes);
    // The output folder, or the working folder when there is none.
    std::string folderOrWorking() const { return _path.empty() ? "." : _path; }

    // Plain text: the host's paths hold no interned text, so a name's holders (kaNameUnique)
    // are the same whatever the command line.
    std::string _path;
    kaFileCommit* _files = nullptr;
    std::string _error;
    std::map<std::string, std::set<std::string>> _handedOutNames;
    // The files written for objects, and the folders made for them, in the order they were made.
    std::map<const kaObject*, std::string> _fileOfObject;
    std::map<std::string, const kaObject*> _objectOfFile;
    std::vector<std::string> _madeFolders;
};

} // namespace Lode::Io
