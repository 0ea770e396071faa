// Result codes of the download, as the public header gives them.
#pragma once

#include <cstdint>

#include "raziza3z.h"

namespace rz::http {

constexpr int32_t kOk = 0;
constexpr int32_t kTooLong = GETHTTP_TOO_LONG;
constexpr int32_t kBadText = GETHTTP_BAD_TEXT;
constexpr int32_t kNoSocket = GETHTTP_NO_SOCKET;
constexpr int32_t kNoConnect = GETHTTP_NO_CONNECT;
constexpr int32_t kSendFailed = GETHTTP_SEND_FAILED;
constexpr int32_t kCannotCreate = GETHTTP_CANNOT_CREATE;
constexpr int32_t kWriteFailed = GETHTTP_WRITE_FAILED;
constexpr int32_t kReceiveFailed = GETHTTP_RECEIVE_FAILED;
constexpr int32_t kStalled = GETHTTP_STALLED;
constexpr int32_t kBodyShort = GETHTTP_BODY_SHORT;
constexpr int32_t kHeaderShort = GETHTTP_HEADER_SHORT;
constexpr int32_t kCancelled = GETHTTP_CANCELLED;
constexpr int32_t kNotHttp = GETHTTP_NOT_HTTP;
constexpr int32_t kBadHeader = GETHTTP_BAD_HEADER;
constexpr int32_t kUnsupportedCoding = GETHTTP_UNSUPPORTED_CODING;
constexpr int32_t kLookupFailed = GETHTTP_LOOKUP_FAILED;

}  // namespace rz::http
