#include "parallel.h"

#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>

#include "terminal_host.h"

namespace qg {

namespace {

// What a worker sends for each entry it took; small enough for one atomic
// write to the pipe that all workers share.
struct Record {
  uint32_t index;
  int32_t result;
};

constexpr int32_t kPending = INT32_MIN;

// True when the entry whose signature lies at `at` continues in a volume.
bool continues_in_volume(std::ifstream& in, uint64_t at) {
  unsigned char sig[4] = {};
  in.clear();
  in.seekg(static_cast<std::streamoff>(at));
  in.read(reinterpret_cast<char*>(sig), 4);
  return in.gcount() == 4 && sig[0] == 'Q' && sig[1] == 'G' && sig[2] == 3 && sig[3] == 5;
}

bool write_record(int fd, const Record& r) {
  const char* p = reinterpret_cast<const char*>(&r);
  size_t done = 0;
  while (done < sizeof r) {
    ssize_t n = ::write(fd, p + done, sizeof r - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// A worker: walks the archive and extracts every entry it can claim first.
[[noreturn]] void work(const ParallelWalk& walk, const WorkerUnpack& unpack, unsigned char* claims,
                       int out) {
  QEN_RESETDLL();
  UDF1(walk.offset, 2961);
  char path[256];
  std::snprintf(path, sizeof path, "%s", walk.archive.c_str());
  for (uint32_t k = 0; k < walk.entries.size() && !cancel_requested(); ++k) {
    EntryInfo info;
    if (QEN_NEXTLOOP(path, 0, &info) != 0) break;
    if (__atomic_exchange_n(&claims[k], 1, __ATOMIC_ACQ_REL)) continue;
    Record r{k, unpack(info, path)};
    if (!write_record(out, r) || r.result == -2 || r.result == -30) break;
  }
  QEN_RESETDLL();
  std::fflush(nullptr);
  ::_exit(0);
}

void stop_workers(const std::vector<pid_t>& workers) {
  for (pid_t p : workers) ::kill(p, SIGTERM);
}

// Takes the records that arrived; false once every worker has closed the pipe.
bool collect(int fd, std::vector<int32_t>* results, std::string* partial) {
  char buf[4096];
  ssize_t n = ::read(fd, buf, sizeof buf);
  if (n < 0) return errno == EINTR || errno == EAGAIN;
  if (n == 0) return false;
  partial->append(buf, static_cast<size_t>(n));
  size_t used = 0;
  for (; partial->size() - used >= sizeof(Record); used += sizeof(Record)) {
    Record r;
    std::memcpy(&r, partial->data() + used, sizeof r);
    if (r.index < results->size()) (*results)[r.index] = r.result;
  }
  partial->erase(0, used);
  return true;
}

// True when two entries would write the same path, or one writes a file
// where another needs a folder: then the order of the entries decides what
// happens, and only one process keeps that order.
bool outputs_collide(const std::vector<EntryInfo>& entries) {
  std::set<std::string> files, folders;
  for (const EntryInfo& e : entries) {
    std::string path = std::string(e.directory) + "\\" + e.name;
    for (char& c : path)
      if (c == '/') c = '\\';
    if (!files.insert(path).second) return true;
    for (size_t at = path.find('\\', 1); at != std::string::npos; at = path.find('\\', at + 1))
      folders.insert(path.substr(0, at));
  }
  for (const std::string& f : files)
    if (folders.count(f)) return true;
  return false;
}

}  // namespace

bool plan_parallel(ParallelWalk* walk) {
  std::ifstream in(walk->archive, std::ios::binary);
  if (!in) return false;
  QEN_RESETDLL();
  UDF1(walk->offset, 2961);
  char path[256];
  std::snprintf(path, sizeof path, "%s", walk->archive.c_str());
  walk->entries.clear();
  bool spanned = false;
  for (;;) {
    uint32_t scan = GETSFP();
    uint64_t at = (walk->offset == 0 || scan != 0) ? scan : walk->offset;
    EntryInfo info;
    walk->end = QEN_NEXTLOOP(path, 0, &info);
    if (walk->end != 0) break;
    walk->entries.push_back(info);
    if (continues_in_volume(in, at)) {
      spanned = true;
      break;
    }
  }
  QEN_RESETDLL();
  return !spanned && walk->entries.size() >= 2 && !outputs_collide(walk->entries);
}

int run_parallel(const ParallelWalk& walk, const WorkerUnpack& unpack, const ParentReport& report) {
  size_t n = walk.entries.size();
  void* shared = ::mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) return 1;
  auto* claims = static_cast<unsigned char*>(shared);
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) {
    ::munmap(shared, n);
    return 1;
  }
  std::fflush(nullptr);
  std::vector<pid_t> workers;
  for (int i = 0; i < walk.jobs; ++i) {
    pid_t p = ::fork();
    if (p == 0) {
      ::close(pipe_fds[0]);
      work(walk, unpack, claims, pipe_fds[1]);
    }
    if (p > 0) workers.push_back(p);
  }
  ::close(pipe_fds[1]);
  if (workers.empty()) {
    ::close(pipe_fds[0]);
    ::munmap(shared, n);
    return 1;
  }
  std::vector<int32_t> results(n, kPending);
  std::string partial;
  size_t next = 0;
  bool open = true, stopped = false, told = false;
  while (next < n && !stopped) {
    while (next < n && results[next] != kPending) {
      if (!report(next, walk.entries[next], results[next])) {
        stopped = true;
        break;
      }
      ++next;
    }
    if (stopped || next == n) break;
    if (!open) {
      results[next] = kWorkerLost;  // its worker ended without a word
      continue;
    }
    if (cancel_requested() && !told) {
      stop_workers(workers);
      told = true;
    }
    struct pollfd pfd = {pipe_fds[0], POLLIN, 0};
    if (::poll(&pfd, 1, 100) > 0) open = collect(pipe_fds[0], &results, &partial);
  }
  if (stopped) stop_workers(workers);
  ::close(pipe_fds[0]);
  for (pid_t p : workers) {
    int status;
    while (::waitpid(p, &status, 0) < 0 && errno == EINTR) {
    }
  }
  ::munmap(shared, n);
  return 0;
}

}  // namespace qg
