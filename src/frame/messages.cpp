#include "frame/messages.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "frame/extract_state.h"
#include "platform/ui.h"
#include "raziza3z.h"

namespace rz {

namespace {

constexpr int kLastId = 18;
constexpr int kNoSlot = 9;

// Index = message id; 0 and 9 have no slot.
constexpr const char* kInitialTexts[kLastId + 1] = {
    nullptr,
    "Unpack",
    "Error",
    "Warning",
    "Please insert disk # %s and click OK to continue",
    "QEN component file not found: ",
    "Cancel pressed. Abort operation?",
    "Error creating directory: ",
    "Error opening archive: ",
    nullptr,
    "File not found: ",
    "More recent QEN version required to unpack: ",
    "Create Path: ",
    "Are you sure you wish to replace %s",
    "Output write failure: ",
    "CRC-32 failure: ",
    "%s is not a valid QEN component file.",
    "% is not a valid QEN file.",
    "Please insert disk number %i",
};

struct Slots {
  char text[kLastId + 1][kMaxMessageLength + 1];
};

constexpr Slots initial_slots() {
  Slots s{};
  for (int id = 0; id <= kLastId; ++id) {
    const char* t = kInitialTexts[id];
    for (int i = 0; t && t[i] && i < kMaxMessageLength; ++i) s.text[id][i] = t[i];
  }
  return s;
}

// Fixed slots: QEN_U_SETMSG hands out their addresses, which stay valid.
// Constant-initialised, so the texts are in place before any code runs.
constinit Slots g_slots = initial_slots();

bool has_slot(int id) {
  return id >= 1 && id <= kLastId && id != kNoSlot;
}

// Cut to the slot's size.  memmove: a host may pass back a stored copy.
void store_message(int id, const char* text) {
  if (!text) text = "";
  size_t length = 0;
  while (length < kMaxMessageLength && text[length]) ++length;
  std::memmove(g_slots.text[id], text, length);
  g_slots.text[id][length] = 0;
}

// The text of a template message with value in place of its first "%s".
// Plain substitution: a host's text is never a format string, so any other
// % stands as written, and a text without "%s" is shown unchanged.
std::string fill_template(const char* templ, const char* value) {
  std::string out = templ;
  size_t at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, value ? value : "");
  return out;
}

std::string joined(const char* text, const char* detail) {
  std::string out = text ? text : "";
  out += detail ? detail : "";
  return out;
}

int show(const std::string& text, const char* caption, uint32_t style) {
  return plat::ui_message_box(extract_state().owner_window, text.c_str(), caption, style);
}

}  // namespace

const char* message_text(int id) {
  return has_slot(id) ? g_slots.text[id] : "";
}

void reset_message_texts() {
  g_slots = initial_slots();
}

void error_box(const char* text, const char* detail, const char* caption) {
  if (extract_state().quiet) return;
  try {
    show(joined(text, detail), caption, plat::kMbOk | plat::kMbIconHand | plat::kMbTaskModal);
  } catch (...) {
    // Out of memory for the text: the caller still returns its error code.
  }
}

int create_path_prompt(const char* directory) {
  int answer = plat::kAnswerNone;
  try {
    answer = show(joined(message_text(12), directory), "",
                  plat::kMbYesNoCancel | plat::kMbIconQuestion | plat::kMbTaskModal);
  } catch (...) {
  }
  if (answer == plat::kAnswerNo) return kIdNo;
  if (answer == plat::kAnswerCancel) return kIdCancel;
  return kIdYes;
}

int replace_prompt(const char* path) {
  int answer = plat::kAnswerNone;
  try {
    answer = show(fill_template(message_text(13), path), message_text(3),
                  plat::kMbYesNoCancel | plat::kMbIconQuestion | plat::kMbTaskModal);
  } catch (...) {
  }
  if (answer == plat::kAnswerNone || answer == plat::kAnswerNo) return kIdNo;
  if (answer == plat::kAnswerCancel) return kIdCancel;
  return kIdYes;
}

void disk_prompt_beep() {
  plat::ui_beep(1);
}

int disk_prompt(int volume_number) {
  char number[16];
  std::snprintf(number, sizeof number, "%02d", volume_number);
  int answer = plat::kAnswerNone;
  try {
    answer = show(fill_template(message_text(4), number), message_text(1),
                  plat::kMbOkCancel | plat::kMbIconHand | plat::kMbTaskModal);
  } catch (...) {
  }
  if (answer == plat::kAnswerOk) return kIdOk;
  if (answer == plat::kAnswerNone || answer == plat::kAnswerCancel) return kIdCancel;
  return 0;
}

}  // namespace rz

extern "C" {

// Ids outside 1-8 and 10-18 (compared unsigned, so negative ids too) change
// nothing and give 0.  A text longer than 79 characters is cut to 79.
RZ_API const char* RZ_CALL QEN_U_SETMSG(int32_t id, const char* text) {
  uint32_t slot = static_cast<uint32_t>(id);
  if (slot > 18 || !rz::has_slot(static_cast<int>(slot))) return nullptr;
  rz::store_message(static_cast<int>(slot), text);
  return rz::message_text(static_cast<int>(slot));
}

}  // extern "C"
