#include "archive/source.h"

#include <algorithm>
#include <string>

#include "archive/decrypt.h"
#include "archive/format.h"
#include "frame/extract_state.h"
#include "frame/messages.h"

namespace rz {

namespace {

// Any fixed value serves: a well-formed stream never uses its bits.
constexpr unsigned char kFillerByte = 0;
constexpr int kLastVolumeNumber = 99;  // two digits in the volume names
constexpr uint32_t kMinRead = 512;

// Decrypts buffered bytes up to index `end`, in order, once each.
void decrypt_through(ExtractState& s, uint32_t end) {
  if (!s.entry_encrypted || end <= s.input_plain_end) return;
  decrypt_span(s.input_buffer + s.input_plain_end, end - s.input_plain_end);
  s.input_plain_end = end;
}

// Reads the next block of the archive file into the buffer.  Small entries
// read little; big ones read the whole buffer at once.
int32_t refill(ExtractState& s) {
  uint32_t want =
      static_cast<uint32_t>(std::clamp<int64_t>(s.input_remaining + 1, kMinRead, kInputBufferSize));
  int32_t got = plat::file_read(s.archive_handle, s.input_buffer, want);
  s.input_buffered = got > 0 ? got : 0;
  s.input_cursor = 0;
  s.input_plain_end = 0;
  return got;
}

// Opens `stem` + the two-digit volume number; true when it opened.
bool try_volume_names(ExtractState& s, std::string* opened) {
  for (const char* mark : {".-", "._"}) {
    std::string name = volume_name(s.archive_path, mark, s.volume_number);
    plat::FileHandle h = plat::file_open_read(name.c_str());
    if (h != plat::kNoFile) {
      s.archive_handle = h;
      *opened = name;
      return true;
    }
  }
  return false;
}

}  // namespace

int take_buffered_byte(unsigned char* out) {
  ExtractState& s = extract_state();
  int64_t before = s.input_remaining--;
  if (before <= 0) return 0;
  if (s.input_buffered == 0 && refill(s) <= 0) return 0;
  uint32_t at = s.input_cursor++;
  --s.input_buffered;
  decrypt_through(s, at + 1);
  *out = s.input_buffer[at];
  return 8;
}

int next_compressed_byte() {
  ExtractState& s = extract_state();
  // Once the source has failed it stays failed: the inflater may still pull
  // bytes before the caller sees the flag, and must not reach further
  // volumes or prompts through them.
  if (s.input_failed) return 0;
  unsigned char byte = kFillerByte;
  bool plain_known = false;
  if (take_buffered_byte(&byte) == 8) {
    plain_known = true;
  } else if (s.spanned_archive && s.entry_bytes_consumed < s.entry_packed_size) {
    // The volume ended in the middle of the entry.
    close_archive();
    if (open_next_volume() != 0) {
      s.input_failed = true;
      return 0;
    }
    ++s.input_remaining;  // give back the failed attempt's decrement
    if (take_buffered_byte(&byte) != 8) {
      s.input_failed = true;
      return 0;
    }
    plain_known = true;
  }
  if (!plain_known) ++s.input_fillers;
  ++s.volume_bytes_consumed;
  ++s.entry_bytes_consumed;
  if (!plain_known && s.entry_encrypted) {
    // The filler passes through the cipher like any byte.
    unsigned char plain = byte ^ keystream_byte();
    keys_update(plain);
    byte = plain;
  }
  return byte;
}

int open_next_volume() {
  ExtractState& s = extract_state();
  s.bytes_in_prior_volumes += s.volume_bytes_consumed;
  ++s.volume_number;
  s.volume_bytes_consumed = 0;
  if (s.volume_number > kLastVolumeNumber) return -30;
  std::string opened;
  if (!try_volume_names(s, &opened)) {
    disk_prompt_beep();
    for (;;) {
      int answer = disk_prompt(s.volume_number);
      if (answer == kIdOk && try_volume_names(s, &opened)) break;
      if (answer == kIdCancel) {
        if (s.output_handle != plat::kNoFile) {
          plat::file_close(s.output_handle);
          s.output_handle = plat::kNoFile;
        }
        return -30;
      }
    }
  }
  int64_t length = plat::file_length(s.archive_handle);
  uint64_t reach = static_cast<uint64_t>(std::max<int64_t>(length, 0)) + s.bytes_in_prior_volumes;
  s.scan_position =
      reach >= s.entry_packed_size ? s.entry_packed_size - s.bytes_in_prior_volumes : 0;
  store_text(s.archive_path, opened.c_str());
  s.input_buffered = 0;
  return 0;
}

uint32_t source_peek(const unsigned char** data) {
  ExtractState& s = extract_state();
  if (s.input_remaining <= 0 || s.input_buffered <= 0) return 0;
  uint32_t n = static_cast<uint32_t>(std::min<int64_t>(s.input_buffered, s.input_remaining));
  decrypt_through(s, s.input_cursor + n);
  *data = s.input_buffer + s.input_cursor;
  return n;
}

void source_consume(uint32_t n) {
  ExtractState& s = extract_state();
  s.input_cursor += n;
  s.input_buffered -= static_cast<int32_t>(n);
  s.input_remaining -= n;
  s.volume_bytes_consumed += n;
  s.entry_bytes_consumed += n;
}

}  // namespace rz
