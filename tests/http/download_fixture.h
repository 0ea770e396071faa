// A host for the download tests: a private folder with the output files and
// the header log, a window procedure that records the progress reports and
// can cancel, and a net seam wrapper that logs calls, fakes the lookups and
// fails chosen calls.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/net.h"
#include "raziza3z.h"
#include "raziza3z_host.h"
#include "temp_dir.h"

namespace rztest {

// What the wrapped net seam does and saw.  0 in a fail_* field fails
// nothing; N fails the Nth call of that kind.
struct NetScript {
  bool fake_lookup = false;
  int lookup_error = 0;  // with fake_lookup: 0 succeeds with lookup_address
  uint32_t lookup_address = 0;
  bool fake_service = false;
  uint16_t service = 0;       // with fake_service: the "http" port, 0 unknown
  bool fake_connect = false;  // record the port and fail, without connecting
  int fail_socket = 0, fail_send = 0, fail_receive = 0;
  // The first cut_receives receives end at once without data, as a signal
  // would end them (-1: every receive).  A clock_step above 0 replaces the
  // clock by one that moves that many milliseconds at each reading.
  int cut_receives = 0;
  uint32_t clock_step = 0;
  uint32_t clock_now = 0;
  // Calls seen.
  int lookups = 0, parses = 0, services = 0, sockets = 0, connects = 0, sends = 0, receives = 0;
  int timeouts = 0;           // set_receive_timeout calls
  uint32_t last_timeout = 0;  // the last limit set
  uint32_t largest_room = 0;  // the most a receive was offered
  uint16_t connect_port = 0;
  uint32_t connect_address = 0;
};

NetScript& net_script();
// Install the wrapper with a fresh script; nullptr-safe restore in TearDown.
void install_net_wrapper();

struct Fetch {
  std::string host = "127.0.0.1";
  std::string path = "/f";
  std::string output;  // defaults to the fixture's out.bin
  uint32_t port = 0;
  std::string user, password;
  bool proxy = false;
  std::string proxy_host;
  uint32_t proxy_port = 0;
  bool log = false;
  std::string agent = "rztest/1";
};

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // GETHTTP with the fetch's texts; the two unused slots get junk values.
  int32_t get(const Fetch& f);
  // The output file's bytes, and whether it exists.
  std::string output_text() const;
  bool output_exists() const;
  // The names in the fixture's folder, sorted, without the header log: the
  // output and whatever a download left beside it.
  std::vector<std::string> files_in_dir() const;
  // The header log's "key=value" lines of the section [result], in order.
  std::vector<std::pair<long long, std::string>> log_entries() const;
  double seconds_since(std::chrono::steady_clock::time_point t) const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
  }

  TempDir dir;
  std::string out;  // dir/out.bin
  std::string log_path;
  std::vector<int32_t> percents;
  int cancel_at_report = 0;  // post the cancel at this report (1 = first)

 private:
  static intptr_t on_message(void* user, RZ_HWND window, uint32_t message, uintptr_t wparam,
                             intptr_t lparam);
  uint32_t progress_id_ = 0;
  uint32_t cancel_id_ = 0;
};

}  // namespace rztest
