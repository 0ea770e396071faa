// qg test -j and qg extract -j on Windows: the library keeps its state per
// process and qg.exe starts no worker processes, so one process does the
// work and says so.
#include <cstdio>

#include "parallel.h"

namespace qg {

bool plan_parallel(ParallelWalk* walk) {
  if (walk->jobs > 1)
    std::fprintf(stderr,
                 "qg: warning: -j is not available on Windows (qg.exe starts no worker "
                 "processes); one process does the work\n");
  return false;
}

int run_parallel(const ParallelWalk&, const WorkerUnpack&, const ParentReport&) {
  return 1;
}

}  // namespace qg
