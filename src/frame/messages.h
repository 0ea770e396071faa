// The message table and the library's four message boxes: the error box,
// the Create Path prompt, the replace prompt and the disk prompt.
//
// Every text the library shows comes from the table, so that the host can
// translate it with QEN_U_SETMSG.  Ids 1-8 and 10-18 have slots; a slot
// holds at most 79 characters (longer texts are cut).
#pragma once

namespace rz {

// Answers the prompts return (the Windows IDOK, IDCANCEL, IDYES, IDNO).
constexpr int kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7;

constexpr int kMaxMessageLength = 79;

// Current text of message id; "" for an id without a slot.
const char* message_text(int id);

// Give every slot its initial text again (tests; nothing in the library
// restores the texts).
void reset_message_texts();

// Show text followed directly by detail, captioned caption, as an error box
// (OK only, hand icon, task-modal) owned by extract_state().owner_window.
// Shows nothing when extract_state().quiet is set.  The answer is not used.
void error_box(const char* text, const char* detail, const char* caption);

// One Create Path box: message 12 followed by directory, empty caption,
// Yes/No/Cancel.  Returns kIdYes, kIdNo or kIdCancel; any other answer, and
// a box that cannot be shown, count as kIdYes.  The caller decides whether
// quiet suppresses it.
int create_path_prompt(const char* directory);

// One replace box: message 13 with path in place of its first "%s",
// caption message 3, Yes/No/Cancel.  Returns kIdYes, kIdNo or kIdCancel;
// any other answer counts as kIdYes, but a box that cannot be shown (no
// host callback) as kIdNo, so that nothing is replaced unasked.
int replace_prompt(const char* path);

// The beep (type 1) that precedes the first disk box of a volume change.
void disk_prompt_beep();

// One disk box: message 4 with the volume number in two digits in place of
// its first "%s", caption message 1, OK/Cancel.  Returns kIdOk, kIdCancel,
// or 0 for any other answer (show it again).  A box that cannot be shown
// (no host callback) counts as kIdCancel, so the prompt cannot loop forever.
int disk_prompt(int volume_number);

}  // namespace rz
