// kaExportGeometry: writes every geometry node below the root to a .kab file of its own and
// registers an external entry for it, so that a saved scene refers to the file instead of
// holding the geometry.
#pragma once

#include "host/opt/kaOptBase.h"

namespace Lode::OptExtension {

using namespace Lode::Opt;

class kaExportGeometry : public kaOptBase {
    KA_DECLARE_CLASS(kaExportGeometry, kaOptBase)
public:
    bool apply(kaSmartPointer<kaNode>& root) override;
    bool configure(int section) override;

    void setSubDirectory(const char* directory) { _subDirectory = directory; }
    const char* getSubDirectory() const { return _subDirectory.c_str(); }
    void setBaseName(const char* baseName) { _baseName = baseName; }
    const char* getBaseName() const { return _baseName.c_str(); }

    static kaStringMetaField* k_subDirectory;
    static kaStringMetaField* k_baseName;

private:
    // True when the node is to be exported: every named node for an empty base name, else a
    // node whose name starts with it.
    bool isSelected(const char* name) const;

    static constexpr const char* kDefaultSubDirectory = "";
    static constexpr const char* kDefaultBaseName = "";

    kaStringRef _subDirectory{kDefaultSubDirectory};
    kaStringRef _baseName{kDefaultBaseName};
};

} // namespace Lode::OptExtension
