// What a pass has put in place of shared objects during one run, so that an object met again
// through another holder (a vertex array of two attributes, an attribute in two nodes' lists)
// gets the same replacement, and what was shared stays shared.
#pragma once

#include "host/core/kaObject.h"

#include <unordered_map>
#include <utility>

namespace Lode::OptExtension {

class kaSharedReplacements {
public:
    // The replacement remembered for original, or null.
    template <class T> T* find(const Lode::Core::kaObject* original) const
    {
        auto found = _replacements.find(original);
        return found == _replacements.end() ? nullptr : static_cast<T*>(found->second.second.get());
    }
    // Remembers replacement for original when original has other holders than the one being
    // changed now: call it while that holder still holds original and the pass holds no
    // reference of its own. A remembered original is held until clear, so that no new object
    // can take its address meanwhile.
    void remember(Lode::Core::kaObject* original, Lode::Core::kaObject* replacement)
    {
        if (original->getRefCount() > 1) _replacements[original] = {original, replacement};
    }
    void clear() { _replacements.clear(); }

private:
    using Held = Lode::Core::kaSmartPointer<Lode::Core::kaObject>;
    std::unordered_map<const Lode::Core::kaObject*, std::pair<Held, Held>> _replacements;
};

} // namespace Lode::OptExtension
