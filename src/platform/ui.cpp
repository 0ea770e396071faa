#include "platform/ui.h"

#include <atomic>

namespace rz::plat {

namespace {
std::atomic<const UiOps*> g_active{nullptr};
}

const UiOps& ui_ops() {
  const UiOps* ops = g_active.load(std::memory_order_acquire);
  return ops ? *ops : native_ui_ops();
}

void set_ui_ops(const UiOps* ops) {
  g_active.store(ops, std::memory_order_release);
}

}  // namespace rz::plat
