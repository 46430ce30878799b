// kaNameUnique: gives every named object that shares its name with another holder of the same
// text a name of its own, the old name followed by "_" and a number.
#pragma once

#include "host/opt/kaOptBase.h"

#include <string>
#include <unordered_map>

namespace Lode::OptExtension {

using namespace Lode::Opt;

class kaNameUnique : public kaOptVisitObject {
    KA_DECLARE_CLASS(kaNameUnique, kaOptVisitObject)
public:
    bool configure(int section) override;
    bool visitor(kaObject* object) override;
    kaMetaObject* getVisitedObjectMeta() override;
    bool preVisit() override;
    bool postVisit() override;

protected:
    void makeNameUnique(kaNamedObject* object);

private:
    // Working state of one run, not a setting: for each old name, the numbers found in use
    // behind it, each linked to the next number to try. Texts only gain holders while the
    // pass runs (a renamed object leaves its old text to the others that share it), so a
    // number once found in use stays in use, and a search need not try it again.
    struct TakenNumbers {
        std::unordered_map<int32_t, int32_t> next;
    };
    // The text "name_N" of the first number N after start, which is in use, that nothing
    // holds, passing over the numbers known to be in use and recording those it finds in use,
    // start and N among them.
    kaStringRef findFreeName(const std::string& name, TakenNumbers& taken, int32_t start);

    std::unordered_map<std::string, TakenNumbers> _takenNumbers;
};

} // namespace Lode::OptExtension
