#include "frame/extract_state.h"

#include "codec/crc32.h"
#include "raziza3z.h"

namespace rz {

namespace {
ExtractState g_state;
}

ExtractState& extract_state() {
  return g_state;
}

const char* store_text(std::string& store, const char* text) {
  try {
    store = text ? text : "";
  } catch (...) {
    // Out of memory: the previous text stays; the address is still valid.
  }
  return store.c_str();
}

void close_archive() {
  ExtractState& s = g_state;
  if (s.archive_handle != plat::kNoFile) plat::file_close(s.archive_handle);
  s.archive_handle = plat::kNoFile;
}

void release_kept_folders() {
  for (KeptFolder* k : {&g_state.kept_root, &g_state.kept_folder}) {
    if (k->dir != plat::kNoDir) plat::dir_close(k->dir);
    *k = KeptFolder{};
  }
}

void entry_cleanup() {
  ExtractState& s = g_state;
  if (!s.test_only && s.output_handle != plat::kNoFile) {
    plat::file_close(s.output_handle);
    s.output_handle = plat::kNoFile;
  }
  close_archive();
  s.entry_bytes_consumed = 0;
  s.read_position = s.data_start;
  s.bytes_in_prior_volumes = 0;
  running_crc_reset();
  s.input_failed = false;
}

}  // namespace rz

using rz::extract_state;

extern "C" {

RZ_API int32_t RZ_CALL QEN_RESETDLL(void) {
  rz::ExtractState& s = extract_state();
  rz::close_archive();
  rz::release_kept_folders();
  s.read_position = s.data_start;
  s.entry_positioned = false;
  s.spanned_archive = false;
  s.volume_number = 1;
  s.scan_position = 0;
  s.entry_offset = 0;
  return 0;
}

RZ_API uint32_t RZ_CALL UDF1(uint32_t offset, uint32_t key) {
  rz::ExtractState& s = extract_state();
  if (key == 2961) {
    s.data_start = offset;
    return offset;
  }
  s.data_start = 0;
  s.read_position = 0;
  return 0;
}

RZ_API uint32_t RZ_CALL GETSFP(void) {
  return static_cast<uint32_t>(extract_state().scan_position);
}

RZ_API uint32_t RZ_CALL SETSFP(uint32_t offset) {
  extract_state().scan_position = offset;
  return offset;
}

RZ_API const char* RZ_CALL QEN_DECRYPTKEY(const char* password) {
  return rz::store_text(extract_state().password, password);
}

RZ_API const char* RZ_CALL QEN_U_FILERENAME(const char* name) {
  return rz::store_text(extract_state().rename_to, name);
}

}  // extern "C"
