// kaInstanceGeometriesByName: makes geometry nodes of one name share the first of them; the
// later ones leave every group that held them, and the first takes their place there.
#pragma once

#include "host/opt/kaOptBase.h"

#include <cstdint>
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
    // A name to sort by: its first 16 bytes as two big-endian numbers, so that most comparisons
    // are of two numbers side by side in an array rather than of two texts scattered over the
    // heap. The zero bytes after a shorter name sort it first, as strcmp does.
    struct NameKey {
        uint64_t head = 0;
        uint64_t tail = 0;
        const char* text = nullptr;
        // Where the named node stands: its place in the visit, or in the pass's list.
        size_t place = 0;
    };
    static NameKey nameKey(const char* text, size_t place);
    // strcmp of the two texts. Interned texts are equal exactly when they are the same text.
    static int compareNames(const NameKey& a, const NameKey& b);
    // By name, namesakes in the order of their places.
    static void sortByName(std::vector<NameKey>& keys);

    // Takes geometry out of every group that holds it, appending kept there instead.
    static void takePlaceOf(kaGeometry* geometry, kaGeometry* kept);
    // True when group is the kept node or lies below it, where appending the kept node would
    // make it its own descendant.
    static bool isAtOrBelow(Lode::Sg::kaGroup* group, const kaGeometry* kept);
    // strcmp of the two nodes' names: letter case counts.
    static int compareByName(const kaGeometry* a, const kaGeometry* b);

    kaGeometryList* _geometryList = nullptr;

    // Working state of one run, not a setting: the named geometry nodes in the order visited,
    // and their names, keyed while the visit has the node at hand. Which node each name keeps,
    // and where the namesakes go, is settled after the visit from one sort of the names, the
    // sort the list needs anyway. Nothing leaves a group before that, so nothing is let go.
    std::vector<kaGeometry*> _named;
    std::vector<NameKey> _names;
};

} // namespace Lode::OptExtension
