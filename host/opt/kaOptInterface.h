// What the host gives every pass: output on standard output, the registry sections that
// scripts fill, the output path, creation of other passes by class name, and the run of one
// pass over a scene.
#pragma once

#include "host/opt/kaOptBase.h"

#include <string>

namespace Lode::Opt {

class kaOptInterface : public kaObject {
    KA_DECLARE_CLASS(kaOptInterface, kaObject)
public:
    virtual int printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    virtual bool fflush(std::FILE* stream);

    kaRegistry* getRegistry() const { return _registry; }
    void setRegistry(kaRegistry* registry) { _registry = registry; }

    // The folder that output files go to; null when there is none.
    const char* getFilePath() const { return _outputPath.isEmpty() ? nullptr : _outputPath.c_str(); }
    void setFilePath(const char* path) { _outputPath = path; }

    // A new pass of the named class with this interface, or null when no registered class of
    // that name is a pass. The caller receives one reference.
    kaOptBase* createOptBase(const char* className);

    enum class RunResult { Applied, Refused };
    // Runs one created pass: configure with its registry section, then (Refused when configure
    // returned false) the infos, then the graph. Infos go first so that what a pass remembers
    // from them (an animation database and its skeletons) is known when it walks the graph.
    RunResult runPass(kaOptBase* pass, int section, kaSmartPointer<kaNode>& root, kaInfoList* infos);

private:
    kaSmartPointer<kaRegistry> _registry;
    kaStringRef _outputPath;
};

} // namespace Lode::Opt
