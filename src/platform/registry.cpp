#include "platform/registry.h"

#include <atomic>

namespace rz::plat {

namespace {
std::atomic<const RegistryOps*> g_active{nullptr};
}

const RegistryOps& registry_ops() {
  const RegistryOps* ops = g_active.load(std::memory_order_acquire);
  return ops ? *ops : native_registry_ops();
}

void set_registry_ops(const RegistryOps* ops) {
  g_active.store(ops, std::memory_order_release);
}

}  // namespace rz::plat
