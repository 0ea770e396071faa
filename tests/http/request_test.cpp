// Base64, Basic credentials and the request text, byte for byte.
#include "http/request.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace rz::http {
namespace {

struct Base64Case {
  std::string input;
  std::string expected;
};

TEST(Base64, KnownVectors) {
  // RFC 4648 section 10, plus bytes above 127 (taken unsigned) and a NUL.
  const Base64Case cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {std::string("\xff\xfe\xfd", 3), "//79"},
      {std::string("\xfb\xff", 2), "+/8="},
      {std::string("a\0b", 3), "YQBi"},
  };
  for (const auto& c : cases) {
    char out[64];
    std::memset(out, 'x', sizeof out);
    int32_t n = base64_encode(reinterpret_cast<const unsigned char*>(c.input.data()),
                              static_cast<uint32_t>(c.input.size()), out, sizeof out);
    EXPECT_EQ(n, static_cast<int32_t>(c.expected.size())) << c.expected;
    EXPECT_STREQ(out, c.expected.c_str());
  }
}

TEST(Base64, RefusesWhatDoesNotFit) {
  const unsigned char in[] = {'f', 'o', 'o'};
  char out[5] = {'k', 'e', 'e', 'p', 0};
  EXPECT_EQ(base64_encode(in, 3, out, 4), -1);  // four characters need a fifth byte for NUL
  EXPECT_STREQ(out, "keep");
  EXPECT_EQ(base64_encode(in, 3, out, 5), 4);
  EXPECT_STREQ(out, "Zm9v");
}

TEST(Credentials, EncodesUserColonPassword) {
  char out[kCredentialsCapacity] = {};
  EXPECT_EQ(encode_credentials("Aladdin", "open sesame", out, kCredentialsCapacity), 28);
  EXPECT_STREQ(out, "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
}

// Joined "user:password" of 170 characters is the longest that goes out.
TEST(Credentials, LimitOf170JoinedCharacters) {
  std::string user(100, 'u');
  std::string fits(69, 'p');      // 100 + 1 + 69 = 170
  std::string too_long(70, 'p');  // 171
  char out[kCredentialsCapacity];
  std::memset(out, 0, sizeof out);
  int32_t n = encode_credentials(user.c_str(), fits.c_str(), out, kCredentialsCapacity);
  EXPECT_EQ(n, 228);
  EXPECT_EQ(std::strlen(out), 228u);
  std::string joined = user + ":" + fits;
  char expected[kCredentialsCapacity];
  base64_encode(reinterpret_cast<const unsigned char*>(joined.data()), 170, expected,
                sizeof expected);
  EXPECT_STREQ(out, expected);

  std::memset(out, 0, sizeof out);
  EXPECT_EQ(encode_credentials(user.c_str(), too_long.c_str(), out, kCredentialsCapacity), 0);
  EXPECT_EQ(out[0], 0);
}

TEST(Request, BothFormsByteForByte) {
  char out[kRequestSize];
  uint32_t length = 0;
  ASSERT_EQ(format_request("/a/b.bin", nullptr, "", "agent/1.0", out, sizeof out, &length), 0);
  EXPECT_EQ(std::string(out, length), "GET /a/b.bin HTTP/1.0\r\nUser-Agent: agent/1.0\r\n\r\n");
  ASSERT_EQ(format_request("/a", "example.test:8080", "", "agent/1.0", out, sizeof out, &length),
            0);
  EXPECT_EQ(std::string(out, length),
            "GET /a HTTP/1.0\r\nHost: example.test:8080\r\nUser-Agent: agent/1.0\r\n\r\n");

  ASSERT_EQ(format_request("/x", "h.test", "dTpw", "ua", out, sizeof out, &length), 0);
  EXPECT_EQ(std::string(out, length),
            "GET /x HTTP/1.0\r\nHost: h.test\r\nAuthorization: Basic dTpw\r\n"
            "User-Agent: ua\r\n\r\n");
}

TEST(Request, HostValueAndSafeTexts) {
  char out[kFieldSize];
  ASSERT_EQ(format_host_value("h.test", 80, out, sizeof out), 0);
  EXPECT_STREQ(out, "h.test");
  ASSERT_EQ(format_host_value("h.test", 8080, out, sizeof out), 0);
  EXPECT_STREQ(out, "h.test:8080");
  std::string host(250, 'h');
  EXPECT_EQ(format_host_value(host.c_str(), 65535, out, sizeof out), -1);
  EXPECT_STREQ(out, "");

  struct Case {
    const char* text;
    bool spaces;
    bool safe;
  };
  const Case cases[] = {
      {"/a%20b?q=1", false, true}, {"/a b", false, false},
      {"/a b", true, true},        {"/a\r\nX: y", false, false},
      {"/a\r\nX: y", true, false}, {"/a\tb", true, false},
      {"/a\x7f", true, false},     {"/\x01", false, false},
      {"/\xe9t\xe9", false, true}, {"", false, true},
  };
  for (const auto& c : cases) EXPECT_EQ(is_request_safe(c.text, c.spaces), c.safe) << c.text;
}

TEST(Request, ProxyTargetAndEmptyHostLine) {
  char target[kFieldSize];
  ASSERT_EQ(format_proxy_target("h.test:8080", "/f?q=1", target, sizeof target), 0);
  EXPECT_STREQ(target, "http://h.test:8080/f?q=1");
  char out[kRequestSize];
  uint32_t length = 0;
  ASSERT_EQ(format_request(target, nullptr, "dTpw", "ua", out, sizeof out, &length), 0);
  EXPECT_EQ(std::string(out, length),
            "GET http://h.test:8080/f?q=1 HTTP/1.0\r\nHost: \r\nAuthorization: Basic dTpw\r\n"
            "User-Agent: ua\r\n\r\n");
}

TEST(Request, RefusesTextsThatDoNotFit) {
  // "http://" + host + path must leave room for the NUL in 256 bytes.
  std::string host(124, 'h'), path = "/" + std::string(123, 'p');  // 7 + 124 + 124 = 255
  char target[kFieldSize];
  EXPECT_EQ(format_proxy_target(host.c_str(), path.c_str(), target, sizeof target), 0);
  EXPECT_EQ(std::strlen(target), 255u);
  path += "p";
  EXPECT_EQ(format_proxy_target(host.c_str(), path.c_str(), target, sizeof target), -1);
  EXPECT_STREQ(target, "");

  // With the target "/" the plain form is 32 characters besides the agent.
  char out[kRequestSize];
  uint32_t length = 0;
  std::string agent(1023 - 32, 'a');
  ASSERT_EQ(format_request("/", nullptr, "", agent.c_str(), out, sizeof out, &length), 0);
  EXPECT_EQ(length, 1023u);
  agent += "a";
  EXPECT_EQ(format_request("/", nullptr, "", agent.c_str(), out, sizeof out, &length), -1);
  EXPECT_STREQ(out, "");
}

}  // namespace
}  // namespace rz::http
