// A recording host for the frame tests: message boxes, beeps and window
// messages go through the public host callbacks into vectors, and every
// test starts with fresh texts, an empty queue and a clear channel.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "frame/extract_state.h"
#include "frame/messages.h"
#include "frame/progress.h"
#include "host_window.h"
#include "raziza3z_host.h"

namespace rztest {

struct Box {
  void* owner;
  std::string text;
  std::string caption;
  uint32_t style;
};

struct Delivered {
  void* window;
  uint32_t message;
  uintptr_t wparam;
  intptr_t lparam;
};

inline void drain_host_queue() {
  HostWindow::drain();
}

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    drain_host_queue();
    rz::reset_message_texts();
    rz::progress_channel() = rz::ProgressChannel{};
    rz::extract_state().quiet = false;
    rz::extract_state().owner_window = nullptr;
    rz_host_set_message_box(&HostTest::on_box, this);
    rz_host_set_beep(&HostTest::on_beep, this);
#if !defined(_WIN32)
    // On Windows messages go to real windows, which the tests that need
    // them make themselves.
    rz_host_set_window_proc(&HostTest::on_message, this);
#endif
  }

  void TearDown() override {
    rz_host_set_message_box(nullptr, nullptr);
    rz_host_set_beep(nullptr, nullptr);
#if !defined(_WIN32)
    rz_host_set_window_proc(nullptr, nullptr);
#endif
    drain_host_queue();
    rz::reset_message_texts();
    rz::extract_state().quiet = false;
    rz::extract_state().owner_window = nullptr;
  }

  // Answers given to the boxes in turn; once used up, every box gets
  // default_answer.
  std::deque<int32_t> answers;
  int32_t default_answer = RZ_IDOK;
  std::vector<Box> boxes;
  std::vector<uint32_t> beeps;
  std::vector<Delivered> delivered;

 private:
  static int32_t on_box(void* user, RZ_HWND owner, const char* text, const char* caption,
                        uint32_t style) {
    auto* self = static_cast<HostTest*>(user);
    self->boxes.push_back(Box{owner, text, caption, style});
    if (self->answers.empty()) return self->default_answer;
    int32_t a = self->answers.front();
    self->answers.pop_front();
    return a;
  }
  static void on_beep(void* user, uint32_t type) {
    static_cast<HostTest*>(user)->beeps.push_back(type);
  }
  static intptr_t on_message(void* user, RZ_HWND window, uint32_t message, uintptr_t wparam,
                             intptr_t lparam) {
    static_cast<HostTest*>(user)->delivered.push_back(Delivered{window, message, wparam, lparam});
    return 0;
  }
};

}  // namespace rztest
