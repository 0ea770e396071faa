// The download's exports and its host settings.  Nothing below throws; the
// guards keep an unexpected exception from crossing into the host.
#include "http/download.h"
#include "http/results.h"
#include "platform/net.h"
#include "raziza3z.h"
#include "raziza3z_host.h"

extern "C" {

RZ_API int32_t RZ_CALL WEBSTARTUP(void) {
  return rz::plat::net_start();
}

RZ_API int32_t RZ_CALL WEBCLEANUP(void) {
  return rz::plat::net_stop() == 0 ? 0 : -1;
}

RZ_API int32_t RZ_CALL GETHTTP(const char* host, const char* path, const char* output,
                               uint32_t /*unused4*/, uint32_t /*unused5*/, uint32_t port,
                               const char* user, const char* password, uint32_t proxy,
                               const char* proxy_host, uint32_t proxy_port, uint32_t log_headers,
                               const char* user_agent) {
  rz::http::DownloadArgs args{host,      path,       output,     port,       user,
                              password,  proxy != 0, proxy_host, proxy_port, log_headers != 0,
                              user_agent};
  try {
    return rz::http::download(args);
  } catch (...) {
    return rz::http::kReceiveFailed;
  }
}

RZ_API int32_t rz_host_set_header_log(const char* path) {
  return rz::http::set_header_log_path(path);
}

RZ_API const char* rz_host_header_log(void) {
  return rz::http::header_log_path();
}

RZ_API void rz_host_set_stall_time(uint32_t milliseconds) {
  rz::http::set_stall_time(milliseconds);
}

RZ_API uint32_t rz_host_stall_time(void) {
  return rz::http::stall_time();
}

}  // extern "C"
