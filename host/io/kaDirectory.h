// The directory of an object file: named entries, each either an object entry (an object and
// everything it refers to, stored in the file) or an external entry (a file path relative to
// the file's folder and an entry name, standing for an object kept in another file).
#pragma once

#include "host/core/kaList.h"

#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace Lode::Core {

class kaKABFile;
class kaExternalReadContext;

class kaDirEntry : public kaObject {
    KA_DECLARE_CLASS(kaDirEntry, kaObject)
public:
    // The entry's name; null when it has none.
    const char* getEntryName() const { return _entryName.c_str(); }
    void setEntryName(const char* name) { _entryName = name; }

protected:
    kaStringRef _entryName;
};

// An entry whose object is stored in the same file.
class kaObjectDirEntry : public kaDirEntry {
    KA_DECLARE_CLASS(kaObjectDirEntry, kaDirEntry)
public:
    kaObject* getObject() const { return _object; }
    void setObject(kaObject* object) { _object = object; }

private:
    kaSmartPointer<kaObject> _object;
};

// An entry standing for an object kept in another file: the directory name is that file's path
// relative to the folder of the file that holds the entry; the entry name selects the object in
// it. The object the entry is bound to is the one references are written for.
class kaExternalDirEntry : public kaDirEntry {
    KA_DECLARE_CLASS(kaExternalDirEntry, kaDirEntry)
public:
    const char* getDirectoryName() const { return _directoryName.c_str(); }
    void setDirectoryName(const char* name) { _directoryName = name; }

    // Binds the entry to the object it stands for (null unbinds). Returns true.
    virtual bool bindObject(kaObject* object);
    kaObject* getBoundObject() const { return _boundObject; }

    // The folder the directory name was read relative to; empty for an entry made in memory.
    const char* getBaseFolder() const { return _baseFolder.text(); }
    // An empty folder is held as none, as kaFileInfo holds its paths.
    void setBaseFolder(const char* folder) { _baseFolder = folder && *folder ? folder : nullptr; }

    // Loads the object the entry stands for from the file it names, relative to folder, and
    // binds it. False with a reason (naming the file) when it cannot, or when the file lies
    // where the context's input may not reach (kaReferenceRefusal).
    virtual bool resolve(const std::string& folder, kaExternalReadContext& context, std::string& error);

    // The path of the named file relative to folder.
    std::string getPathIn(const std::string& folder) const;

private:
    kaStringRef _directoryName;
    kaSmartPointer<kaObject> _boundObject;
    kaStringRef _baseFolder;
};

class kaDirectory : public kaTObjectList<kaDirEntry> {
    KA_DECLARE_CLASS(kaDirectory, kaTObjectList<kaDirEntry>)
public:
    // The first entry with that entry name, or null.
    kaDirEntry* findEntryByEntryName(const char* name) const;
    // The first external entry bound to the object, or null. An index makes this constant-time:
    // it takes in entries appended to the list and is rebuilt after any other change to it; an
    // entry is indexed under the object it is bound to when the list has it, so bind an entry
    // before listing it.
    kaExternalDirEntry* findExternalEntry(const kaObject* object) const;

private:
    // Indexes the entries appended since the last call; starts again when the list changed otherwise.
    void updateIndex() const;
    void dropIndex() const;

    mutable std::unordered_map<const kaObject*, int> _positionOfBound;
    mutable int _indexedCount = 0;
    mutable const kaDirEntry* _lastIndexed = nullptr;
};

// A file's path, its folder and its directory of entries.
class kaFileInfo : public kaObject {
    KA_DECLARE_CLASS(kaFileInfo, kaObject)
public:
    // The path; "" when none.
    const char* getPath() const { return _path.text(); }
    // The folder part of the path; "" for a bare file name.
    const char* getFolder() const { return _folder.text(); }
    void setPath(const char* path);

    kaDirectory* getDirectory() const { return _directory; }
    void setDirectory(kaDirectory* directory) { _directory = directory; }

private:
    kaStringRef _path;
    kaStringRef _folder;
    kaSmartPointer<kaDirectory> _directory;
};

// The external files loaded during one read: a file is loaded once however many entries name
// it, and a file that leads back to itself through its external entries is refused.
class kaExternalReadContext {
public:
    // insideFolder bounds what references may reach; empty: the folder of the input.
    explicit kaExternalReadContext(std::string insideFolder = {});
    ~kaExternalReadContext();
    kaExternalReadContext(const kaExternalReadContext&) = delete;
    kaExternalReadContext& operator=(const kaExternalReadContext&) = delete;

    // The file at path, read now or earlier in this context; null with a reason on failure.
    kaKABFile* loadFile(const std::string& path, std::string& error);

    // Marks a file as being read (false, with a reason, for a cycle or too deep a chain). The
    // first file entered is the input.
    bool enter(const std::string& path, std::string& error);
    void leave();
    // Why the file that reference names, relative to folder, may not be read; "" when it may.
    std::string refuseReference(const std::string& reference, const std::string& folder) const;

    // How deep a chain of files referring to files may go.
    static constexpr int MaxDepth = 32;

private:
    static std::string key(const std::string& path);
    std::vector<std::string> _reading;
    std::map<std::string, kaKABFile*> _loaded;
    std::string _input;
    std::string _insideFolder;
};

// The folder part of a path ("" for a bare file name).
std::string kaFolderOf(const std::string& path);
// The absolute, normalised form of a path; "" stands for the working folder.
std::string kaAbsolutePath(const std::string& path);

// Where the files a scene refers to may lie. A scene from elsewhere must not make the process
// read, and hand on, files it was not given: by default a reference is read only when it is a
// relative path that stays inside the folder of the input (the file the read began with). A
// trusted pipeline may allow any reference for the whole process.
void kaSetOutsideReferencesAllowed(bool allowed);
bool kaOutsideReferencesAllowed();
// True when reference is a relative path that, taken from folder, stays inside insideFolder
// (as written: links are not followed).
bool kaStaysInside(const std::string& reference, const std::string& folder, const std::string& insideFolder);
// Why the file that reference names, relative to folder, may not be read where reads stay inside
// insideFolder, which messages call place ("the folder of in/scene.gltf"); "" when it may.
std::string kaReferenceRefusal(const std::string& reference, const std::string& folder, const std::string& insideFolder,
                               const std::string& place);

} // namespace Lode::Core
