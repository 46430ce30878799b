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

// Every object reachable from the roots (the roots included), each once, in depth-first
// pre-order: an object comes before what it refers to, references in declaration order.
std::vector<kaObject*> kaCollectReachable(const std::vector<kaObject*>& roots);

} // namespace Lode::Core
