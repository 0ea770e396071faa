#include "platform/net.h"

#include <atomic>

namespace rz::plat {

namespace {
std::atomic<const NetOps*> g_active{nullptr};
}

const NetOps& net_ops() {
  const NetOps* ops = g_active.load(std::memory_order_acquire);
  return ops ? *ops : native_net_ops();
}

void set_net_ops(const NetOps* ops) {
  g_active.store(ops, std::memory_order_release);
}

int net_send_all(SocketHandle socket, const void* data, uint32_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
  uint32_t done = 0;
  while (done < n) {
    int32_t put = net_send(socket, p + done, n - done);
    // A count outside 1..remaining is a broken send; never loop on it.
    if (put <= 0 || static_cast<uint32_t>(put) > n - done) return -1;
    done += static_cast<uint32_t>(put);
  }
  return 0;
}

}  // namespace rz::plat
