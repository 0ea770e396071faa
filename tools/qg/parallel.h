// qg test -j and qg extract -j: the library keeps its extraction state per
// process, so work in parallel means worker processes, each walking the
// archive and taking the entries no other worker has taken yet, while the
// parent reports the results in entry order as one process would.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "raziza3z.h"

namespace qg {

// A result that no worker delivered (the worker ended early).
constexpr int32_t kWorkerLost = 1000;

struct ParallelWalk {
  std::string archive;
  uint32_t offset = 0;  // where the entries begin (UDF1)
  int jobs = 1;
  std::vector<EntryInfo> entries;  // every entry of the walk, in order
  int32_t end = 1;                 // QEN_NEXTLOOP's result after the last entry
};

// Walks the archive with QEN_NEXTLOOP alone (no entry is decoded) and
// decides whether its entries can be shared out: not when the archive spans
// volumes (only extracting an entry moves the walk into the next volume), nor
// when it holds fewer than two entries, nor when two entries write the same
// path (or a file where another needs a folder), where their order decides.
// True with entries and end filled.
bool plan_parallel(ParallelWalk* walk);

// Extracts one entry in a worker: `path` is the walk's path buffer.
using WorkerUnpack = std::function<int32_t(const EntryInfo& info, char* path)>;
// Takes one result in the parent, in entry order; false stops the walk.
using ParentReport = std::function<bool(size_t index, const EntryInfo& info, int32_t result)>;

// Runs `unpack` for every entry of the plan in walk.jobs worker processes
// and hands the results to `report`.  Once `report` stops the walk, or qg is
// told to cancel, the workers are told to cancel too and are waited for.
// Returns 0, or 1 when no worker could be started (nothing was reported).
int run_parallel(const ParallelWalk& walk, const WorkerUnpack& unpack, const ParentReport& report);

}  // namespace qg
