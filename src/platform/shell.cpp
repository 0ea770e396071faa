#include "platform/shell.h"

#include <atomic>

namespace rz::plat {

namespace {
std::atomic<const ShellOps*> g_active{nullptr};
}

const ShellOps& shell_ops() {
  const ShellOps* ops = g_active.load(std::memory_order_acquire);
  return ops ? *ops : native_shell_ops();
}

void set_shell_ops(const ShellOps* ops) {
  g_active.store(ops, std::memory_order_release);
}

}  // namespace rz::plat
