// Generic walks over reflected references: what an object refers to is what its class declares
// (object-reference fields and object lists), so every class is walked by the same code.
#pragma once

#include "host/core/kaObject.h"

#include <functional>
#include <vector>

namespace Lode::Core {

// Calls visit for each object that object refers to through its object-reference fields and the
// entries of its object lists, in field order, entries in list order. Transient fields (derived
// state such as parent lists) and null references are passed over.
void kaForEachReference(const kaObject* object, const std::function<void(kaObject*)>& visit);

// What a walk does once it has visited an object: go on into what the object refers to, pass
// that over (it is still reached through other objects), or end the walk.
enum class kaWalkStep { Into, Past, Stop };

// Both orders are depth-first pre-order: an object comes before what it refers to.
// Declared: roots and references in order. LastFirst: the last root and the last reference
// first, the order in which .kab files list the external entries they use.
enum class kaWalkOrder { Declared, LastFirst };

// Visits every object reachable from the roots through kaForEachReference once (null roots are
// passed over), with an explicit stack: scene graphs can be deeper than the call stack allows.
// The objects reached carry the walk's mark (kaObject::isReached) until another walk begins;
// the returned number is that mark. visit may not begin a walk of its own.
uint32_t kaWalkReachable(const std::vector<kaObject*>& roots, const std::function<kaWalkStep(kaObject*)>& visit,
                         kaWalkOrder order = kaWalkOrder::Declared);

// Every object reachable from the roots (the roots included), each once, in the Declared order.
std::vector<kaObject*> kaCollectReachable(const std::vector<kaObject*>& roots);

} // namespace Lode::Core
