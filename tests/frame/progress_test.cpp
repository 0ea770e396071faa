// The progress channel: QEN_UINIT_MP, the percentage sent to the host
// window, and the drain of the queue with its cancel and quit rules.
// These cases post to stand-in window pointers through the POSIX host
// queue; on Windows the progress and the cancel through a real window are
// checked by the extraction tests (tests/archive) and the Win32 suite.
#if !defined(_WIN32)
#include "frame/progress.h"

#include <gtest/gtest.h>

#include <climits>

#include "host_fixture.h"
#include "platform/ui.h"
#include "raziza3z.h"
#include "raziza3z_host.h"

namespace {

using rztest::HostTest;

int g_window_a, g_window_b;
void* const kWindowA = &g_window_a;
void* const kWindowB = &g_window_b;

class ProgressTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_EQ(QEN_UINIT_MP(kWindowA), 0);
    progress = rz::progress_channel().progress_message;
    cancel = rz::progress_channel().cancel_message;
  }
  uint32_t progress = 0, cancel = 0;
};

TEST_F(HostTest, UinitMpBindsWindowAndRegistersBothNames) {
  EXPECT_EQ(QEN_UINIT_MP(kWindowA), 0);
  const rz::ProgressChannel& c = rz::progress_channel();
  EXPECT_EQ(c.progress_window, kWindowA);
  EXPECT_EQ(rz::extract_state().owner_window, kWindowA);
  // The host learns the ids by registering the same names itself.
  EXPECT_EQ(c.progress_message, rz_host_register_message("RUZI1"));
  EXPECT_EQ(c.cancel_message, rz_host_register_message("VORE2"));
  EXPECT_NE(c.progress_message, c.cancel_message);
  for (uint32_t id : {c.progress_message, c.cancel_message}) {
    EXPECT_GE(id, 0xC000u);
    EXPECT_LE(id, 0xFFFFu);
  }
  // A later call replaces the window.
  EXPECT_EQ(QEN_UINIT_MP(kWindowB), 0);
  EXPECT_EQ(c.progress_window, kWindowB);
  EXPECT_EQ(rz::extract_state().owner_window, kWindowB);
}

TEST_F(HostTest, UinitMpWithNullWindowStoresNullAndReturnsOne) {
  ASSERT_EQ(QEN_UINIT_MP(kWindowA), 0);
  EXPECT_EQ(QEN_UINIT_MP(nullptr), 1);
  const rz::ProgressChannel& c = rz::progress_channel();
  EXPECT_EQ(c.progress_window, nullptr);
  EXPECT_EQ(rz::extract_state().owner_window, nullptr);
  EXPECT_EQ(c.progress_message, rz_host_register_message("RUZI1"));
  EXPECT_EQ(c.cancel_message, rz_host_register_message("VORE2"));
}

// Registration that fails (through the seam) gives 1 but keeps the window.
rz::plat::UiOps g_failing_register;
uint32_t refuse_name(const char* name) {
  return std::string(name) == "VORE2" ? 0 : rz::plat::native_ui_ops().register_message(name);
}

TEST_F(HostTest, UinitMpReportsFailedRegistration) {
  g_failing_register = rz::plat::native_ui_ops();
  g_failing_register.register_message = refuse_name;
  rz::plat::set_ui_ops(&g_failing_register);
  int32_t r = QEN_UINIT_MP(kWindowA);
  rz::plat::set_ui_ops(nullptr);
  EXPECT_EQ(r, 1);
  EXPECT_EQ(rz::progress_channel().progress_window, kWindowA);
  EXPECT_NE(rz::progress_channel().progress_message, 0u);
  EXPECT_EQ(rz::progress_channel().cancel_message, 0u);
}

struct PercentCase {
  int32_t done, total, percent;
};

TEST_F(ProgressTest, SendsTruncatedPercentageToTheWindow) {
  const PercentCase cases[] = {
      {0, 5, 0},
      {1, 3, 33},
      {2, 3, 66},
      {3, 3, 100},
      {7, 1, 700},   // not limited to 0-100
      {-1, 3, -33},  // truncated toward zero
      {1, 0, 100},   // a total below 1 counts as 1: no division by zero
      {2, -4, 200},
      {INT32_MAX, 1, INT32_MAX},  // held to the 32-bit range, never wraps
      {INT32_MAX, 1000, 214748364},
  };
  for (const PercentCase& pc : cases) {
    SCOPED_TRACE(testing::Message() << pc.done << "/" << pc.total);
    delivered.clear();
    rz::progress_channel().progress_done = pc.done;
    rz::progress_channel().progress_total = pc.total;
    EXPECT_EQ(rz::report_progress(), 1);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].window, kWindowA);
    EXPECT_EQ(delivered[0].message, progress);
    EXPECT_EQ(delivered[0].wparam, 1u);
    EXPECT_EQ(delivered[0].lparam, pc.percent);
  }
}

TEST_F(ProgressTest, DownloadOfEightSmallChunksPassesOneHundred) {
  // Content-Length 5000 gives a total of 5; eight chunks arrive.
  rz::ProgressChannel& c = rz::progress_channel();
  c.progress_done = 0;
  c.progress_total = 5;
  for (int chunk = 0; chunk < 8; ++chunk) {
    ++c.progress_done;
    ASSERT_EQ(rz::report_progress(), 1);
  }
  std::vector<intptr_t> seen;
  for (const auto& d : delivered) seen.push_back(d.lparam);
  EXPECT_EQ(seen, (std::vector<intptr_t>{20, 40, 60, 80, 100, 120, 140, 160}));
}

TEST_F(HostTest, WithoutAWindowNothingIsSentAndTheWorkGoesOn) {
  rz::progress_channel().progress_done = 1;
  rz::progress_channel().progress_total = 2;
  EXPECT_EQ(rz::report_progress(), 1);
  EXPECT_TRUE(delivered.empty());
}

TEST_F(ProgressTest, CancelPostedBeforeTheStartStopsAtTheFirstReport) {
  ASSERT_EQ(rz_host_post_message(kWindowB, cancel, 0, 0), 1);
  rz::progress_channel().progress_total = 1;
  EXPECT_EQ(rz::report_progress(), 0);
  // The notification first, then the cancel dispatched to its window.
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0].message, progress);
  EXPECT_EQ(delivered[1].window, kWindowB);
  EXPECT_EQ(delivered[1].message, cancel);
  EXPECT_EQ(rz_host_take_message(nullptr), -1);
}

TEST_F(ProgressTest, CancelPostedToTheThreadStopsThoughNoWindowReceivesIt) {
  ASSERT_EQ(rz_host_post_message(nullptr, cancel, 0, 0), 1);
  rz::progress_channel().progress_total = 1;
  EXPECT_EQ(rz::report_progress(), 0);
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].message, progress);
}

TEST_F(ProgressTest, WaitingMessagesAreDispatchedInOrderBeforeGoingOn) {
  ASSERT_EQ(rz_host_post_message(kWindowA, 0x000F, 1, 2), 1);  // a paint
  ASSERT_EQ(rz_host_post_message(kWindowB, 0x0113, 3, 4), 1);  // a timer
  ASSERT_EQ(rz_host_post_message(kWindowA, 0x0400, 5, 6), 1);
  rz::progress_channel().progress_total = 1;
  EXPECT_EQ(rz::report_progress(), 1);
  ASSERT_EQ(delivered.size(), 4u);
  EXPECT_EQ(delivered[1].message, 0x000Fu);
  EXPECT_EQ(delivered[1].window, kWindowA);
  EXPECT_EQ(delivered[2].message, 0x0113u);
  EXPECT_EQ(delivered[2].window, kWindowB);
  EXPECT_EQ(delivered[2].wparam, 3u);
  EXPECT_EQ(delivered[2].lparam, 4);
  EXPECT_EQ(delivered[3].message, 0x0400u);
  EXPECT_EQ(rz_host_take_message(nullptr), -1);
}

TEST_F(ProgressTest, MessagesBehindTheCancelStayQueued) {
  ASSERT_EQ(rz_host_post_message(kWindowA, 0x0400, 0, 0), 1);
  ASSERT_EQ(rz_host_post_message(kWindowA, cancel, 0, 0), 1);
  ASSERT_EQ(rz_host_post_message(kWindowA, 0x0401, 7, 0), 1);
  rz::progress_channel().progress_total = 1;
  EXPECT_EQ(rz::report_progress(), 0);
  ASSERT_EQ(delivered.size(), 3u);
  EXPECT_EQ(delivered[1].message, 0x0400u);
  EXPECT_EQ(delivered[2].message, cancel);
  RzHostMessage m;
  ASSERT_EQ(rz_host_take_message(&m), 1);
  EXPECT_EQ(m.message, 0x0401u);
  EXPECT_EQ(m.wparam, 7u);
}

TEST_F(ProgressTest, QuitStopsAndIsPostedAgainWithItsExitCode) {
  ASSERT_EQ(rz_host_post_message(kWindowB, 0x0400, 0, 0), 1);
  rz_host_post_quit(42);
  rz::progress_channel().progress_total = 1;
  EXPECT_EQ(rz::report_progress(), 0);
  // The message posted before the quit was dispatched first.
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[1].message, 0x0400u);
  // The host's own loop still receives the quit, with the same code.
  RzHostMessage m;
  ASSERT_EQ(rz_host_take_message(&m), 0);
  EXPECT_EQ(m.message, static_cast<uint32_t>(RZ_WM_QUIT));
  EXPECT_EQ(static_cast<int32_t>(m.wparam), 42);
  EXPECT_EQ(rz_host_take_message(&m), -1);
}

TEST_F(ProgressTest, NegativeExitCodeSurvivesTheRepost) {
  rz_host_post_quit(-3);
  rz::progress_channel().progress_total = 1;
  EXPECT_EQ(rz::report_progress(), 0);
  RzHostMessage m;
  ASSERT_EQ(rz_host_take_message(&m), 0);
  EXPECT_EQ(static_cast<int32_t>(m.wparam), -3);
}

TEST_F(HostTest, MessageZeroDoesNotCancelBeforeRegistration) {
  // Before QEN_UINIT_MP the cancel id is 0; a posted message 0 must not
  // look like a cancel.
  ASSERT_EQ(rz_host_post_message(kWindowA, 0, 0, 0), 1);
  rz::progress_channel().progress_total = 1;
  EXPECT_EQ(rz::report_progress(), 1);
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].message, 0u);
}

}  // namespace

#endif  // !_WIN32
