// The normal path against a real server: python's http.server on
// 127.0.0.1, serving files of several sizes from a private folder.
#include "python_server.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "download_fixture.h"

namespace rztest {
namespace {

std::vector<uint8_t> random_bytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(gen());
  return v;
}

TEST_F(DownloadTest, FilesOfSeveralSizesFromARealServer) {
  TempDir site;
  ASSERT_FALSE(site.path().empty());
  const size_t sizes[] = {0, 1, 999, 1000, 1023, 1024, 1025, 65543, 3 * 1024 * 1024 + 17};
  for (size_t n : sizes) write_file(site / ("f" + std::to_string(n)), random_bytes(n, n + 1));
  PythonServer server(site.path());
  ASSERT_NE(server.port(), 0) << "python3 -m http.server did not start";

  for (size_t n : sizes) {
    SCOPED_TRACE("size " + std::to_string(n));
    percents.clear();
    Fetch f;
    f.port = server.port();
    f.path = "/f" + std::to_string(n);
    ASSERT_EQ(get(f), 0);
    EXPECT_EQ(read_file(out), read_file(site / f.path.substr(1)));
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 100);
    for (int32_t p : percents) EXPECT_LE(p, 100);
  }

  // The server's error page is not saved, and the last file stays.
  Fetch missing;
  missing.port = server.port();
  missing.path = "/no-such-file";
  missing.log = true;
  EXPECT_EQ(get(missing), 404);
  EXPECT_TRUE(read_file(out) == random_bytes(sizes[8], sizes[8] + 1));
  auto entries = log_entries();
  // The status line, then the header lines that came with it.
  ASSERT_GE(entries.size(), 1u);
  EXPECT_EQ(entries[0].second.substr(0, 12), "HTTP/1.0 404");
}

}  // namespace
}  // namespace rztest
