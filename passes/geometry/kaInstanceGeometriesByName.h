// kaInstanceGeometriesByName: makes geometry nodes of one name share the first of them; the
// later ones leave every group that held them, and the first takes their place there.
#pragma once

#include "host/opt/kaOptBase.h"

#include <unordered_map>
#include <vector>

namespace Lode::Sg {
class kaGeometry;
class kaGeometryList;
class kaGroup;
} // namespace Lode::Sg

namespace Lode::OptExtension {

using namespace Lode::Opt;
using Lode::Sg::kaGeometry;
using Lode::Sg::kaGeometryList;

class kaInstanceGeometriesByName : public kaOptVisitObject {
    KA_DECLARE_CLASS(kaInstanceGeometriesByName, kaOptVisitObject)
public:
    ~kaInstanceGeometriesByName() override;

    bool configure(int section) override;
    bool visitor(kaObject* object) override;
    kaMetaObject* getVisitedObjectMeta() override;
    bool preVisit() override;
    bool postVisit() override;

    // The kept node of every name met, by any run of this pass object, sorted by name.
    kaGeometryList* getGeometryList() const { return _geometryList; }

    static kaObjectRefMetaField* k_geometryList;

private:
    // True when group is the kept node or lies below it, where appending the kept node would
    // make it its own descendant.
    static bool isAtOrBelow(Lode::Sg::kaGroup* group, const kaGeometry* kept);
    // strcmp of the two nodes' names: letter case counts.
    static int compareByName(const kaGeometry* a, const kaGeometry* b);

    kaGeometryList* _geometryList = nullptr;

    // Working state of one run, not a setting. A name is found by its interned text, which
    // every holder of the same text shares; nodes kept in this run join _geometryList in one
    // sorted merge at the end of the run rather than one insertion each, and are held from the
    // moment their name is met: a node kept below a replaced namesake loses its last parent
    // there, and the walk lets go of it before the merge.
    std::unordered_map<const char*, kaGeometry*> _keptByName;
    std::vector<kaSmartPointer<kaGeometry>> _keptInThisRun;
};

} // namespace Lode::OptExtension
