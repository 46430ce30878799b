// What the host gives every pass: output on standard output, the registry sections that
// scripts fill, the output path, creation of other passes by class name, the run of one
// pass over a scene, and the files: the current scene file, whose directory collects the
// external entries that passes register, and the writing of objects to files of their own,
// which the interface hands to its output folder (host/io/kaOutputFolder.h).
#pragma once

#include "host/io/kaOutputFolder.h"
#include "host/opt/kaOptBase.h"

#include <functional>
#include <string>

namespace Lode::Opt {

enum kaResult { kSuccess = 0, kFailure = 1 };

// Registers the passes the host itself provides for other passes to create by class name, the
// image resizer kaResizeImage and the image converter kaConvertImage; running it again does
// nothing. createOptBase runs it first.
void kaRegisterHostPasses();
// True for those host passes: passes create them, scripts do not run them.
bool kaIsHostPass(const kaMetaObject* meta);

class kaOptInterface : public kaObject {
    KA_DECLARE_CLASS(kaOptInterface, kaObject)
public:
    virtual int printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    virtual bool fflush(std::FILE* stream);

    kaRegistry* getRegistry() const { return _registry; }
    void setRegistry(kaRegistry* registry) { _registry = registry; }

    // The folder that output files go to; null when there is none.
    const char* getFilePath() const { return _output.getPath().empty() ? nullptr : _output.getPath().c_str(); }
    void setFilePath(const char* path) { _output.setPath(path ? path : ""); }

    // A new pass of the named class with this interface, or null when no registered class of
    // that name is a pass (the host passes always are). The caller receives one reference.
    kaOptBase* createOptBase(const char* className);

    enum class RunResult { Applied, Refused, Stopped };
    // Runs one created pass: configure with its registry section, then (Refused when configure
    // returned false) the infos, then the graph. Infos go first so that what a pass remembers
    // from them (an animation database and its skeletons) is known when it walks the graph.
    // afterConfigure, when given, runs once configure has returned and is told what it returned
    // (the keys configure read are known then); false stops the run before anything is applied.
    RunResult runPass(kaOptBase* pass, int section, kaSmartPointer<kaNode>& root, kaInfoList* infos,
                      const std::function<bool(bool configured)>& afterConfigure = {});

    // ---- files ----

    // The current scene file (an empty one until a scene is read or one is set). Its directory
    // holds the external entries: those read with the scene and those passes register; a saved
    // scene refers to the objects they are bound to through them.
    kaFileInfo* getFile();
    void setFile(kaFileInfo* file);
    // The external entry registered for an object, or null.
    kaExternalDirEntry* getExternalEntry(kaObject* object);
    // Registers an entry bound to an object; it replaces an earlier entry for the same object.
    void addExternalReference(kaExternalDirEntry* entry);

    // Writes object, and what it refers to, to a .kab file whose entry "root" holds it. With
    // useExternalEntries, what it refers to that a registered external entry is bound to is
    // written as a reference to that entry instead (the entry's file name made relative to the
    // written file's folder). getFileError says why a write failed.
    kaResult writeFile(kaObject* object, const char* path, bool useExternalEntries);
    // Writes an image as a PNG file; true when written (getFileError says why not).
    bool writeImage(const Lode::Gfx::kaImage* image, const char* path) { return _output.writeImage(image, path); }
    const std::string& getFileError() const { return _output.getError(); }

    // The set that every file of a run joins (the passes' files and the saved scene), so that
    // they appear together when the run commits it; null (the default): each file is put in
    // place as soon as it is written. The set must outlive the writes.
    void setFileCommit(kaFileCommit* files) { _output.setFileCommit(files); }

    // Reads a scene file (of any format the host reads) and makes it the current file. infos
    // starts with the scene info.
    bool readScene(const char* path, kaSmartPointer<kaInfoList>& infos, std::string& error);
    // Saves the scene with the registered external entries that it uses, so that objects kept
    // in files of their own (exported geometry, PNG images) stay there. The files of entries read
    // with the input are written anew beside a scene saved in another folder, under the same
    // names, so that it never refers back into the input's folder. A glTF scene holds all but
    // images itself: .kab files written for it in the run are named in a warning on standard error.
    bool writeScene(const char* path, kaInfoList* infos, std::string& error);

    // Changes the file name in place so that it differs from every name handed out before for
    // that directory (null: none), by a "_N" put before its extension, and records it.
    void makeNameUnique(const char* directory, kaSmartPointer<kaStringObj> name)
    {
        _output.makeNameUnique(directory, name);
    }
    // True when the folder (null or empty: the working folder) exists and can be written to.
    bool isFolderWritable(const char* folder) const { return Lode::Io::kaOutputFolder::isFolderWritable(folder); }
    // Makes the folder and the missing ones above it. Those made are removed again when the
    // interface goes, if nothing was put in them (a failed run leaves none behind). False when
    // one cannot be made; getFileError says why.
    bool makeFolders(const std::string& folder) { return _output.makeFolders(folder); }

private:
    kaSmartPointer<kaRegistry> _registry;
    kaSmartPointer<kaFileInfo> _file;
    Lode::Io::kaOutputFolder _output;
};

} // namespace Lode::Opt
