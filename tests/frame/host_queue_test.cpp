// The host side of the queue: name registration, posting from other
// threads and from signal handlers, a full queue.
// The POSIX host queue itself (its bounds, threads and signal handlers);
// on Windows the thread's own message queue takes its place.
#if !defined(_WIN32)
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "frame/progress.h"
#include "host_fixture.h"
#include "raziza3z.h"
#include "raziza3z_host.h"

namespace {

using rztest::HostTest;

int g_window;
void* const kWindow = &g_window;

TEST(HostRegister, SameNameGivesTheSameIdIgnoringCase) {
  uint32_t a = rz_host_register_message("rztest.alpha");
  uint32_t b = rz_host_register_message("rztest.beta");
  EXPECT_GE(a, 0xC000u);
  EXPECT_LE(a, 0xFFFFu);
  EXPECT_GE(b, 0xC000u);
  EXPECT_NE(a, b);
  EXPECT_EQ(rz_host_register_message("rztest.alpha"), a);
  EXPECT_EQ(rz_host_register_message("RZTEST.Alpha"), a);
  EXPECT_NE(rz_host_register_message("rztest.alph"), a);
  EXPECT_NE(rz_host_register_message("rztest.alphaa"), a);
}

TEST(HostRegister, RefusesNamesItCannotHold) {
  EXPECT_EQ(rz_host_register_message(nullptr), 0u);
  EXPECT_EQ(rz_host_register_message(""), 0u);
  EXPECT_EQ(rz_host_register_message(std::string(256, 'n').c_str()), 0u);
  EXPECT_NE(rz_host_register_message(std::string(255, 'n').c_str()), 0u);
}

TEST_F(HostTest, FullQueueRefusesAPostAndRecoversOnceDrained) {
  int posted = 0;
  while (rz_host_post_message(kWindow, 0x0400, static_cast<uintptr_t>(posted), 0) == 1) {
    ++posted;
    ASSERT_LT(posted, 100000) << "the queue never filled";
  }
  EXPECT_EQ(posted, 1024);
  // A quit is a flag, not an entry: it still gets through.
  rz_host_post_quit(5);
  // Everything comes out in order, the quit last; the ring then wraps.
  for (int round = 0; round < 3; ++round) {
    RzHostMessage m;
    for (int i = 0; i < posted; ++i) {
      ASSERT_EQ(rz_host_take_message(&m), 1);
      ASSERT_EQ(m.wparam, static_cast<uintptr_t>(i));
    }
    if (round == 0) {
      ASSERT_EQ(rz_host_take_message(&m), 0);
      EXPECT_EQ(m.wparam, 5u);
    }
    EXPECT_EQ(rz_host_take_message(&m), -1);
    for (int i = 0; i < posted; ++i)
      ASSERT_EQ(rz_host_post_message(kWindow, 0x0400, static_cast<uintptr_t>(i), 0), 1);
  }
}

// Several threads post while the operation drains; every message arrives
// once, each thread's in the order posted, and a cancel from another thread
// stops the operation.
TEST_F(HostTest, PostsFromOtherThreadsAllArriveInOrder) {
  ASSERT_EQ(QEN_UINIT_MP(kWindow), 0);
  const uint32_t cancel = rz::progress_channel().cancel_message;
  constexpr int kThreads = 4, kEach = 5000;
  std::atomic<int> running{kThreads};
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([t, &running] {
      for (int i = 0; i < kEach;) {
        if (rz_host_post_message(kWindow, 0x0400 + static_cast<uint32_t>(t),
                                 static_cast<uintptr_t>(i), 0) == 1)
          ++i;
        else
          std::this_thread::yield();  // full: the drain catches up
      }
      running.fetch_sub(1);
    });
  }
  rz::progress_channel().progress_total = 1;
  while (running.load() > 0) ASSERT_EQ(rz::report_progress(), 1);
  for (auto& p : posters) p.join();
  ASSERT_EQ(rz::report_progress(), 1);

  std::vector<int> next(kThreads, 0);
  for (const auto& d : delivered) {
    if (d.message == rz::progress_channel().progress_message) continue;
    int t = static_cast<int>(d.message - 0x0400);
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    ASSERT_EQ(d.wparam, static_cast<uintptr_t>(next[t])) << "thread " << t;
    ++next[t];
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kEach);

  std::thread canceller([cancel] { rz_host_post_message(nullptr, cancel, 0, 0); });
  canceller.join();
  EXPECT_EQ(rz::report_progress(), 0);
}

// ---- Signal handlers -------------------------------------------------------

std::atomic<uint32_t> g_signal_cancel{0};
std::atomic<int> g_handled{0};

void post_cancel_on_signal(int) {
  if (rz_host_post_message(nullptr, g_signal_cancel.load(), 0, 0) == 1) g_handled.fetch_add(1);
}

void post_quit_on_signal(int) {
  rz_host_post_quit(130);
}

class SignalTest : public HostTest {
 protected:
  void install(void (*handler)(int)) {
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &sa, &old_), 0);
    installed_ = true;
  }
  void TearDown() override {
    if (installed_) sigaction(SIGUSR1, &old_, nullptr);
    HostTest::TearDown();
  }
  struct sigaction old_ = {};
  bool installed_ = false;
};

TEST_F(SignalTest, HandlerPostsTheCancel) {
  ASSERT_EQ(QEN_UINIT_MP(kWindow), 0);
  g_signal_cancel = rz::progress_channel().cancel_message;
  install(post_cancel_on_signal);
  rz::progress_channel().progress_total = 1;
  EXPECT_EQ(rz::report_progress(), 1);
  ASSERT_EQ(raise(SIGUSR1), 0);
  EXPECT_EQ(rz::report_progress(), 0);
}

TEST_F(SignalTest, HandlerPostsTheQuit) {
  ASSERT_EQ(QEN_UINIT_MP(kWindow), 0);
  install(post_quit_on_signal);
  ASSERT_EQ(raise(SIGUSR1), 0);
  rz::progress_channel().progress_total = 1;
  EXPECT_EQ(rz::report_progress(), 0);
  RzHostMessage m;
  ASSERT_EQ(rz_host_take_message(&m), 0);
  EXPECT_EQ(m.wparam, 130u);
}

// Signals that interrupt a thread in the middle of its own posts: the
// handler's posts and the thread's must all arrive, none twice.
TEST_F(SignalTest, HandlerInterruptingAPostLosesNothing) {
  ASSERT_EQ(QEN_UINIT_MP(kWindow), 0);
  g_signal_cancel = 0x0500;  // a marker, not the cancel
  g_handled = 0;
  install(post_cancel_on_signal);
  constexpr int kPosts = 20000;
  std::atomic<bool> done{false};
  std::thread poster([&done] {
    for (int i = 0; i < kPosts;) {
      if (rz_host_post_message(kWindow, 0x0400, static_cast<uintptr_t>(i), 0) == 1)
        ++i;
      else
        std::this_thread::yield();
    }
    done = true;
  });
  int taken = 0, markers = 0, signals = 0;
  RzHostMessage m;
  while (!done.load()) {
    if (signals < 200 && pthread_kill(poster.native_handle(), SIGUSR1) == 0) ++signals;
    while (rz_host_take_message(&m) == 1) {
      if (m.message == 0x0500)
        ++markers;
      else
        ASSERT_EQ(m.wparam, static_cast<uintptr_t>(taken++));
    }
  }
  poster.join();
  while (rz_host_take_message(&m) == 1) {
    if (m.message == 0x0500)
      ++markers;
    else
      ASSERT_EQ(m.wparam, static_cast<uintptr_t>(taken++));
  }
  EXPECT_EQ(taken, kPosts);
  EXPECT_EQ(markers, g_handled.load());
  EXPECT_GT(markers, 0);
}

}  // namespace

#endif  // !_WIN32
