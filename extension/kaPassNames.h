// The class names of the registration table, in its order, for the programs that run or check
// every pass: tests, fuzz targets and benchmarks.
#pragma once

namespace Lode {

inline constexpr const char* kaPassNames[] = {
#define KA_PASS(Class, summary) #Class,
#include "extension/kaPassTable.def"
#undef KA_PASS
};

} // namespace Lode
