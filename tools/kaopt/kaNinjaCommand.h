// kaopt ninja: the runs of a batch as a build.ninja, so that Ninja (or any build system that reads
// it) schedules them on every core and reruns only those whose files changed. kaopt schedules
// nothing itself: each edge is one kaopt run that writes a dependency file (kaDepfile.h) naming
// every file it read.
#pragma once

#include "tools/kaopt/kaCommands.h"

namespace Lode::Tools {

struct kaNinjaOptions {
    // The script, the plug-in, the output folder and format, the inputs, and the run flags each
    // edge passes on (--strict, --keep-going, --allow-outside-references). The batch's report
    // path and jobs are not used: Ninja runs the edges.
    kaBatchOptions batch;
    bool reports = false; // each edge also writes OUTPUT.json, its run's report, next to its output
};

// Prints the build.ninja on standard output; kExitBadInput, printing nothing, for inputs the batch
// would refuse or a path a build.ninja cannot hold.
int kaNinjaCommand(const kaNinjaOptions& options);

} // namespace Lode::Tools
