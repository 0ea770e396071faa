// Forced into every test source of a Windows cross build.  GoogleTest's
// Notification (used only by GoogleTest's own tests) is built on std::mutex,
// which the "-win32" thread model of this GCC lacks; this one spins on an
// atomic flag instead, and GoogleTest takes it when GTEST_HAS_NOTIFICATION_
// is set.
#pragma once
#ifdef __cplusplus
#include <atomic>

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;
  void Notify() { notified_.store(true, std::memory_order_release); }
  void WaitForNotification() {
    while (!notified_.load(std::memory_order_acquire)) {
    }
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing

#define GTEST_HAS_NOTIFICATION_ 1
#endif
