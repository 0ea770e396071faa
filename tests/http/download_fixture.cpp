#include "download_fixture.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace rztest {

namespace {

RZ_HWND const kWindow = reinterpret_cast<RZ_HWND>(0x5150);
NetScript g_script;

namespace plat = rz::plat;

// True when this call (counted) is the one to fail.
bool hit(int& count, int fail_at) {
  return ++count == fail_at;
}

int w_parse(const char* text, uint32_t* address) {
  ++g_script.parses;
  return plat::native_net_ops().parse_address(text, address);
}
int w_lookup(const char* name, uint32_t* address) {
  ++g_script.lookups;
  if (!g_script.fake_lookup) return plat::native_net_ops().lookup_host(name, address);
  if (g_script.lookup_error == 0) *address = g_script.lookup_address;
  return g_script.lookup_error;
}
uint16_t w_service(const char* service, const char* protocol) {
  ++g_script.services;
  if (g_script.fake_service) return g_script.service;
  return plat::native_net_ops().service_port(service, protocol);
}
plat::SocketHandle w_open() {
  if (hit(g_script.sockets, g_script.fail_socket)) return plat::kNoSocket;
  return plat::native_net_ops().open_stream();
}
int w_connect(plat::SocketHandle s, uint32_t address, uint16_t port) {
  ++g_script.connects;
  g_script.connect_port = port;
  g_script.connect_address = address;
  if (g_script.fake_connect) return -1;
  return plat::native_net_ops().connect(s, address, port);
}
int32_t w_send(plat::SocketHandle s, const void* data, uint32_t n) {
  if (hit(g_script.sends, g_script.fail_send)) return -1;
  return plat::native_net_ops().send(s, data, n);
}
int32_t w_receive(plat::SocketHandle s, void* buffer, uint32_t n) {
  if (n > g_script.largest_room) g_script.largest_room = n;
  if (hit(g_script.receives, g_script.fail_receive)) return -1;
  if (g_script.cut_receives < 0 || g_script.receives <= g_script.cut_receives)
    return plat::kNetInterrupted;
  return plat::native_net_ops().receive(s, buffer, n);
}
int w_timeout(plat::SocketHandle s, uint32_t timeout_ms) {
  ++g_script.timeouts;
  g_script.last_timeout = timeout_ms;
  return plat::native_net_ops().set_receive_timeout(s, timeout_ms);
}
uint32_t w_now() {
  if (g_script.clock_step == 0) return plat::native_net_ops().now_ms();
  g_script.clock_now += g_script.clock_step;
  return g_script.clock_now;
}

plat::NetOps make_wrapper() {
  plat::NetOps ops = plat::native_net_ops();
  ops.parse_address = w_parse;
  ops.lookup_host = w_lookup;
  ops.service_port = w_service;
  ops.open_stream = w_open;
  ops.connect = w_connect;
  ops.send = w_send;
  ops.receive = w_receive;
  ops.set_receive_timeout = w_timeout;
  ops.now_ms = w_now;
  return ops;
}

const plat::NetOps kWrapper = make_wrapper();

}  // namespace

NetScript& net_script() {
  return g_script;
}

void install_net_wrapper() {
  g_script = NetScript{};
  plat::set_net_ops(&kWrapper);
}

void DownloadTest::SetUp() {
  ASSERT_FALSE(dir.path().empty());
  out = dir / "out.bin";
  log_path = dir / "headers.ini";
  ASSERT_EQ(rz_host_set_header_log(log_path.c_str()), 0);
  rz_host_set_stall_time(10000);  // a fault must not hang a test for a minute
  while (rz_host_take_message(nullptr) >= 0) {
  }
  progress_id_ = rz_host_register_message("RUZI1");
  cancel_id_ = rz_host_register_message("VORE2");
  rz_host_set_window_proc(&DownloadTest::on_message, this);
  ASSERT_EQ(QEN_UINIT_MP(kWindow), 0);
  install_net_wrapper();
  ASSERT_EQ(WEBSTARTUP(), 0);
}

void DownloadTest::TearDown() {
  EXPECT_EQ(WEBCLEANUP(), 0);
  plat::set_net_ops(nullptr);
  plat::set_file_ops(nullptr);
  rz_host_set_window_proc(nullptr, nullptr);
  while (rz_host_take_message(nullptr) >= 0) {
  }
  rz_host_set_header_log(nullptr);
  rz_host_set_stall_time(0);
}

intptr_t DownloadTest::on_message(void* user, RZ_HWND window, uint32_t message, uintptr_t wparam,
                                  intptr_t lparam) {
  auto* self = static_cast<DownloadTest*>(user);
  if (message != self->progress_id_ || wparam != 1) return 0;
  self->percents.push_back(static_cast<int32_t>(lparam));
  if (self->cancel_at_report == static_cast<int>(self->percents.size()))
    rz_host_post_message(window, self->cancel_id_, 0, 0);
  return 0;
}

int32_t DownloadTest::get(const Fetch& f) {
  const std::string& output = f.output.empty() ? out : f.output;
  return GETHTTP(f.host.c_str(), f.path.c_str(), output.c_str(), 0xdeadbeef, 0xfeedface, f.port,
                 f.user.c_str(), f.password.c_str(), f.proxy ? 1 : 0, f.proxy_host.c_str(),
                 f.proxy_port, f.log ? 1 : 0, f.agent.c_str());
}

std::string DownloadTest::output_text() const {
  std::vector<uint8_t> bytes = read_file(out);
  return std::string(bytes.begin(), bytes.end());
}

bool DownloadTest::output_exists() const {
  return std::ifstream(out).good();
}

std::vector<std::string> DownloadTest::files_in_dir() const {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    std::string name = e.path().filename().string();
    if (name != "headers.ini") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::pair<long long, std::string>> DownloadTest::log_entries() const {
  std::ifstream in(log_path);
  std::vector<std::pair<long long, std::string>> entries;
  std::string line;
  bool in_section = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      in_section = line == "[result]";
      continue;
    }
    size_t eq = line.find('=');
    if (!in_section || eq == std::string::npos) continue;
    entries.emplace_back(std::stoll(line.substr(0, eq)), line.substr(eq + 1));
  }
  return entries;
}

}  // namespace rztest
