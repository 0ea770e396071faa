// The Win32 user-interface layer: registered messages, SendMessageA to a
// message-only window, the thread's queue (posted messages, the quit), and
// the host's box and beep callbacks, also through the exports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui.h"
#include "raziza3z.h"
#include "raziza3z_host.h"
#include "win32_fixture.h"

namespace {

using namespace rz::plat;

struct Seen {
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
};
std::vector<Seen> g_seen;

LRESULT CALLBACK record_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m >= WM_USER) {
    g_seen.push_back({m, wp, lp});
    return static_cast<LRESULT>(lp + 1);
  }
  return ::DefWindowProcA(w, m, wp, lp);
}

// A message-only window of this thread whose procedure records what it gets.
class Win32Ui : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
    WNDCLASSA wc = {};
    wc.lpfnWndProc = record_proc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "rz_win32_ui_test";
    ::RegisterClassA(&wc);  // fails harmlessly when already registered
    window_ = ::CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
    ASSERT_NE(window_, nullptr);
    drain();
  }
  void TearDown() override {
    ::DestroyWindow(window_);
    drain();
  }
  static void drain() {
    MSG m;
    while (::PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  HWND window_ = nullptr;
  const UiOps& ops_ = native_ui_ops();
};

TEST_F(Win32Ui, RegisteredNamesShareOneId) {
  uint32_t a = ops_.register_message("RUZI1");
  EXPECT_GE(a, 0xC000u);
  EXPECT_EQ(ops_.register_message("ruzi1"), a) << "names compare without case";
  EXPECT_NE(ops_.register_message("VORE2"), a);
  EXPECT_EQ(ops_.register_message(""), 0u);
  EXPECT_EQ(ops_.register_message(nullptr), 0u);
}

TEST_F(Win32Ui, SendReachesTheWindowAtOnce) {
  EXPECT_EQ(ops_.send_message(window_, WM_USER + 1, 1, 41), 42);
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].message, static_cast<UINT>(WM_USER + 1));
  EXPECT_EQ(ops_.send_message(nullptr, WM_USER + 1, 1, 41), 0) << "no window, no delivery";
  EXPECT_FALSE(ops_.peek_message()) << "a sent message does not pass through the queue";
}

TEST_F(Win32Ui, PostedMessagesAreTakenInOrderThenTheQuit) {
  ASSERT_TRUE(::PostMessageA(window_, WM_USER + 2, 7, 8));
  ASSERT_TRUE(::PostMessageA(window_, WM_USER + 3, 9, 10));
  ops_.post_quit_message(5);
  EXPECT_TRUE(ops_.peek_message());
  UiMessage m;
  ASSERT_EQ(ops_.get_message(&m), 1);
  EXPECT_EQ(m.message, static_cast<uint32_t>(WM_USER + 2));
  EXPECT_EQ(m.window, window_);
  ops_.translate_message(&m);
  ops_.dispatch_message(&m);
  ASSERT_EQ(ops_.get_message(&m), 1);
  ops_.dispatch_message(&m);
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[1].wparam, 9u);
  EXPECT_EQ(g_seen[1].lparam, 10);
  ASSERT_EQ(ops_.get_message(&m), 0) << "the quit";
  EXPECT_EQ(m.wparam, 5u);
  EXPECT_EQ(ops_.get_message(&m), -1) << "nothing waits, and nothing blocks";
  EXPECT_FALSE(ops_.peek_message());
}

struct BoxLog {
  std::vector<std::string> texts, captions;
  std::vector<uint32_t> styles;
  std::vector<RZ_HWND> owners;
  int32_t answer = RZ_IDOK;
  std::vector<uint32_t> beeps;
};

int32_t log_box(void* user, RZ_HWND owner, const char* text, const char* caption, uint32_t style) {
  auto* log = static_cast<BoxLog*>(user);
  log->texts.push_back(text);
  log->captions.push_back(caption);
  log->styles.push_back(style);
  log->owners.push_back(owner);
  return log->answer;
}

void log_beep(void* user, uint32_t type) {
  static_cast<BoxLog*>(user)->beeps.push_back(type);
}

// The host answers the boxes instead of MessageBoxA, which would wait for a
// person; removing the callback is not tried here for the same reason.
TEST_F(Win32Ui, HostAnswersTheBoxesAndBeeps) {
  BoxLog log;
  log.answer = RZ_IDNO;
  rz_host_set_message_box(log_box, &log);
  rz_host_set_beep(log_beep, &log);
  EXPECT_EQ(ops_.message_box(window_, "text", "caption", 0x2023), RZ_IDNO);
  ops_.beep(1);
  ASSERT_EQ(log.texts.size(), 1u);
  EXPECT_EQ(log.owners[0], window_);
  EXPECT_EQ(log.styles[0], 0x2023u);
  EXPECT_EQ(log.beeps, std::vector<uint32_t>{1});

  // QEN_CREATEPATH's error box: a folder cannot be made below a file.
  rzwin::TempDir dir;
  std::string file = dir.file("plain.txt");
  ASSERT_TRUE(rzwin::write_file(file, "x"));
  EXPECT_EQ(QEN_UINIT_MP(window_), 0);
  QEN_U_SETMSG(2, "Failure");
  std::string below = file + "\\sub";
  char path[300];
  std::snprintf(path, sizeof path, "%s", below.c_str());
  EXPECT_EQ(QEN_CREATEPATH(path), 7);
  ASSERT_EQ(log.texts.size(), 2u);
  EXPECT_EQ(log.captions[1], "Failure");
  EXPECT_EQ(log.styles[1], 0x2010u);
  EXPECT_NE(log.texts[1].find("plain.txt\\sub"), std::string::npos) << log.texts[1];
  QEN_U_SETMSG(2, "Error");
  rz_host_set_beep(nullptr, nullptr);
}

TEST_F(Win32Ui, UinitRegistersBothNames) {
  EXPECT_EQ(QEN_UINIT_MP(nullptr), 1) << "no window";
  EXPECT_EQ(QEN_UINIT_MP(window_), 0);
}

}  // namespace
