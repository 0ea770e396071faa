// Why an extraction could not make its folder or its file: the library
// gives a result code, qg looks at the place to tell the user the system's
// reason (a missing folder, a permission, a directory in the way, a full
// disk).
#pragma once

#include <cstdint>
#include <string>

#include "raziza3z.h"

namespace qg {

// The reason behind QEN_UNPACK's result `code` (7, 15 or 20) for `entry`
// extracted with its stored directory below `destination`; empty for other
// codes or when nothing more can be said.
std::string output_error_reason(int32_t code, const std::string& destination,
                                const EntryInfo& entry);

}  // namespace qg
