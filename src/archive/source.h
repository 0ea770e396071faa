// The compressed-data source: hands the inflater the current entry's bytes,
// decrypted, reading the archive through ExtractState's input buffer and
// moving on to the next volume file when a spanned entry runs on.
#pragma once

#include <cstdint>

namespace rz {

// The next plain byte of the entry (0-255).  At the end of the entry's data
// it gives a filler byte; when it cannot go on (disk prompt cancelled, a new
// volume without bytes) it sets input_failed and returns 0.
int next_compressed_byte();

// Takes one buffered byte into *out (refilling the buffer from the archive
// file when empty).  Returns 8 when it stored a byte, 0 when there is none.
int take_buffered_byte(unsigned char* out);

// Closes the current volume's successor search: opens volume_number + 1
// under either name, asking for the disk while neither opens.  Returns 0, or
// -30 when the user cancelled (or no further volume can be named).
int open_next_volume();

// The bytes already buffered that belong to the entry, decrypted: sets *data
// and returns their count (0 when none are buffered).
uint32_t source_peek(const unsigned char** data);

// Takes n bytes of the last view, with the counters moved as n calls of
// next_compressed_byte would move them.
void source_consume(uint32_t n);

}  // namespace rz
