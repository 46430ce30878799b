// A pass's reference page in Markdown, made from the code alone so that it cannot drift from it:
// the summary and the fields (type, default, values, meaning) come from reflection, the rest from
// the plug-in's reference text for the class (KA_PASS_DOC in extension/kaPassTable.def).
#pragma once

#include "host/core/kaMeta.h"

#include <string>

namespace Lode::Tools {

// The page of a pass class. doc is the reference text: lines of Markdown on what the pass does,
// then one line per entry of the lists "@reads" (registry keys), "@prints" (messages) and
// "@loses" (what it drops or changes unexpectedly). A null doc leaves those parts out. False,
// with the reason in error, for a line of another tag or untagged text after the entries.
bool kaPassPage(const Core::kaMetaObject& meta, const char* doc, std::string& page, std::string& error);

} // namespace Lode::Tools
