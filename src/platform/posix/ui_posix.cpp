// POSIX user-interface operations.  There is no window system here: boxes,
// the beep and window procedures are the host's callbacks, and the queue of
// posted messages is the library's own (raziza3z_host.h).
#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "raziza3z_host.h"

namespace rz::plat {

namespace {

// ---- Host callbacks --------------------------------------------------------

struct HostCallbacks {
  RzMessageBoxFn message_box = nullptr;
  void* message_box_user = nullptr;
  RzBeepFn beep = nullptr;
  void* beep_user = nullptr;
  RzWindowProcFn window_proc = nullptr;
  void* window_proc_user = nullptr;
};

std::mutex g_callbacks_lock;
HostCallbacks g_callbacks;

// A copy taken under the lock, so that a callback runs without holding it
// (it may install another callback).
HostCallbacks callbacks() {
  std::lock_guard<std::mutex> hold(g_callbacks_lock);
  return g_callbacks;
}

// ---- Registered message names ----------------------------------------------

constexpr uint32_t kFirstRegisteredId = 0xC000;
constexpr uint32_t kRegisteredIdCount = 0x4000;
constexpr size_t kMaxNameLength = 255;

std::mutex g_names_lock;
std::vector<std::string>* g_names = nullptr;  // index + kFirstRegisteredId is the id

bool same_name(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return i == a.size() && b[i] == 0;
}

// ---- The queue of posted messages ------------------------------------------
//
// A bounded ring in which every cell carries a sequence number (the classic
// bounded multi-producer queue): a producer claims a cell by advancing `tail`
// with a compare-and-swap, fills it, and publishes it by storing pos + 1 in
// the cell; a consumer takes the cell at `head` once it is published and
// frees it for the next lap by storing pos + capacity.  Only lock-free
// atomics are used, so posting works from any thread and from a signal
// handler, even one that interrupts a post or a take on the same thread.
// A post that was interrupted before publishing holds up the cells behind it
// until it completes; the queue then just looks empty for a moment.

constexpr size_t kQueueCapacity = 1024;  // a power of two
static_assert((kQueueCapacity & (kQueueCapacity - 1)) == 0, "capacity must be a power of two");
static_assert(std::atomic<size_t>::is_always_lock_free, "posting must not take a lock");
static_assert(std::atomic<uint32_t>::is_always_lock_free, "posting must not take a lock");

struct Cell {
  std::atomic<size_t> sequence;
  UiMessage message;
};

struct Queue {
  Cell cells[kQueueCapacity];
  std::atomic<size_t> head{0};
  std::atomic<size_t> tail{0};
  // PostQuitMessage is a flag of the queue, not an entry: it never fails and
  // is taken once nothing else waits.
  std::atomic<uint32_t> quit_posted{0};
  std::atomic<uint32_t> quit_code{0};

  Queue() {
    for (size_t i = 0; i < kQueueCapacity; ++i)
      cells[i].sequence.store(i, std::memory_order_relaxed);
  }
};

Queue g_queue;

bool queue_push(const UiMessage& m) {
  size_t pos = g_queue.tail.load(std::memory_order_relaxed);
  for (;;) {
    Cell& cell = g_queue.cells[pos & (kQueueCapacity - 1)];
    size_t seq = cell.sequence.load(std::memory_order_acquire);
    auto diff = static_cast<std::ptrdiff_t>(seq - pos);
    if (diff == 0) {
      if (g_queue.tail.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
        cell.message = m;
        cell.sequence.store(pos + 1, std::memory_order_release);
        return true;
      }
    } else if (diff < 0) {
      return false;  // full
    } else {
      pos = g_queue.tail.load(std::memory_order_relaxed);
    }
  }
}

// Takes the oldest published message, or returns false.
bool queue_pop(UiMessage* out) {
  size_t pos = g_queue.head.load(std::memory_order_relaxed);
  for (;;) {
    Cell& cell = g_queue.cells[pos & (kQueueCapacity - 1)];
    size_t seq = cell.sequence.load(std::memory_order_acquire);
    auto diff = static_cast<std::ptrdiff_t>(seq - (pos + 1));
    if (diff == 0) {
      if (g_queue.head.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
        *out = cell.message;
        cell.sequence.store(pos + kQueueCapacity, std::memory_order_release);
        return true;
      }
    } else if (diff < 0) {
      return false;  // empty, or the next post is not published yet
    } else {
      pos = g_queue.head.load(std::memory_order_relaxed);
    }
  }
}

bool queue_has_message() {
  size_t pos = g_queue.head.load(std::memory_order_relaxed);
  const Cell& cell = g_queue.cells[pos & (kQueueCapacity - 1)];
  return cell.sequence.load(std::memory_order_acquire) == pos + 1;
}

void queue_post_quit(int32_t exit_code) {
  g_queue.quit_code.store(static_cast<uint32_t>(exit_code), std::memory_order_relaxed);
  g_queue.quit_posted.store(1, std::memory_order_release);
}

// 1 with a message, 0 with the quit, -1 when nothing waits.
int queue_take(UiMessage* out) {
  if (queue_pop(out)) return 1;
  if (g_queue.quit_posted.exchange(0, std::memory_order_acquire) != 0) {
    out->window = nullptr;
    out->message = kWmQuit;
    out->wparam = static_cast<uintptr_t>(
        static_cast<int32_t>(g_queue.quit_code.load(std::memory_order_relaxed)));
    out->lparam = 0;
    return 0;
  }
  return -1;
}

// ---- The operations --------------------------------------------------------

int posix_message_box(void* owner, const char* text, const char* caption, uint32_t style) {
  HostCallbacks cb = callbacks();
  if (!cb.message_box) return kAnswerNone;
  return cb.message_box(cb.message_box_user, owner, text ? text : "", caption ? caption : "",
                        style);
}

void posix_beep(uint32_t type) {
  HostCallbacks cb = callbacks();
  if (cb.beep) cb.beep(cb.beep_user, type);
}

uint32_t posix_register_message(const char* name) {
  if (!name || !*name) return 0;
  size_t length = 0;
  while (name[length] && length <= kMaxNameLength) ++length;
  if (length > kMaxNameLength) return 0;
  try {
    std::lock_guard<std::mutex> hold(g_names_lock);
    // Never freed: ids stay valid for the life of the process.
    if (!g_names) g_names = new std::vector<std::string>();
    for (size_t i = 0; i < g_names->size(); ++i)
      if (same_name((*g_names)[i], name)) return kFirstRegisteredId + static_cast<uint32_t>(i);
    if (g_names->size() >= kRegisteredIdCount) return 0;
    g_names->emplace_back(name);
    return kFirstRegisteredId + static_cast<uint32_t>(g_names->size() - 1);
  } catch (...) {
    return 0;
  }
}

intptr_t deliver(void* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (!window) return 0;
  HostCallbacks cb = callbacks();
  if (!cb.window_proc) return 0;
  return cb.window_proc(cb.window_proc_user, window, message, wparam, lparam);
}

bool posix_peek_message() {
  return queue_has_message() || g_queue.quit_posted.load(std::memory_order_acquire) != 0;
}

int posix_get_message(UiMessage* out) {
  return queue_take(out);
}

void posix_translate_message(const UiMessage*) {}

void posix_dispatch_message(const UiMessage* m) {
  deliver(m->window, m->message, m->wparam, m->lparam);
}

const UiOps kPosixUiOps = {
    posix_message_box,  posix_beep,        posix_register_message,  deliver,
    posix_peek_message, posix_get_message, posix_translate_message, posix_dispatch_message,
    queue_post_quit,
};

}  // namespace

const UiOps& native_ui_ops() {
  return kPosixUiOps;
}

}  // namespace rz::plat

// ---- The host's side -------------------------------------------------------

using namespace rz::plat;

extern "C" {

RZ_API void rz_host_set_message_box(RzMessageBoxFn fn, void* user) {
  std::lock_guard<std::mutex> hold(g_callbacks_lock);
  g_callbacks.message_box = fn;
  g_callbacks.message_box_user = user;
}

RZ_API void rz_host_set_beep(RzBeepFn fn, void* user) {
  std::lock_guard<std::mutex> hold(g_callbacks_lock);
  g_callbacks.beep = fn;
  g_callbacks.beep_user = user;
}

RZ_API void rz_host_set_window_proc(RzWindowProcFn fn, void* user) {
  std::lock_guard<std::mutex> hold(g_callbacks_lock);
  g_callbacks.window_proc = fn;
  g_callbacks.window_proc_user = user;
}

RZ_API uint32_t rz_host_register_message(const char* name) {
  return posix_register_message(name);
}

RZ_API int32_t rz_host_post_message(RZ_HWND window, uint32_t message, uintptr_t wparam,
                                    intptr_t lparam) {
  UiMessage m;
  m.window = window;
  m.message = message;
  m.wparam = wparam;
  m.lparam = lparam;
  return queue_push(m) ? 1 : 0;
}

RZ_API void rz_host_post_quit(int32_t exit_code) {
  queue_post_quit(exit_code);
}

RZ_API int32_t rz_host_take_message(RzHostMessage* out) {
  UiMessage m;
  int r = queue_take(&m);
  if (r >= 0 && out) {
    out->window = m.window;
    out->message = m.message;
    out->wparam = m.wparam;
    out->lparam = m.lparam;
  }
  return r;
}

}  // extern "C"
