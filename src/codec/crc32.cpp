#include "codec/crc32.h"

#include <array>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define RZ_CRC_CLMUL 1
#include <immintrin.h>
#endif

namespace rz {

namespace {

using SliceTables = std::array<std::array<uint32_t, 256>, 8>;

// slices[0] is the plain table; slices[k][b] advances the byte b through k
// further zero bytes, so that eight bytes fold with eight independent lookups.
constexpr SliceTables make_slices() {
  SliceTables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][i] = c;
  }
  for (int k = 1; k < 8; ++k)
    for (uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}

constexpr SliceTables kSlices = make_slices();

uint32_t g_running_crc = 0;

inline uint32_t load_le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

#ifdef RZ_CRC_CLMUL

// Folding with carry-less multiplication: four 128-bit lanes are folded
// forward over 64 bytes at a time, reduced to one lane, then to 32 bits with a
// Barrett reduction.  The constants are x^k mod P (bit-reflected) for the
// fold distances 512+64/512 (k1,k2), 128+64/128 (k3,k4), 64 (k5), and P and
// its Barrett quotient.  Takes n >= 64 with n a multiple of 16; when kCopy is
// set, every 16-byte block is also stored to dst.
#define RZ_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

RZ_CLMUL_TARGET inline __m128i fold128(__m128i x, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

template <bool kCopy>
RZ_CLMUL_TARGET inline __m128i load_block(const uint8_t* p, uint8_t* dst, size_t off) {
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + off));
  if constexpr (kCopy) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + off), v);
  return v;
}

// Fold the four lanes x[0..3] (64 consecutive bytes, oldest first) into one,
// fold in the remaining whole 16-byte blocks from p + off up to p + n, and
// reduce to the 32-bit register.
template <bool kCopy>
RZ_CLMUL_TARGET uint32_t finish_clmul(__m128i x1, __m128i x2, __m128i x3, __m128i x4,
                                      const uint8_t* p, size_t off, size_t n, uint8_t* dst) {
  const __m128i k34 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
  const __m128i k5 = _mm_set_epi64x(0, 0x163cd6124);
  const __m128i poly = _mm_set_epi64x(0x1f7011641, 0x1db710641);
  const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
  x1 = _mm_xor_si128(fold128(x1, k34), x2);
  x1 = _mm_xor_si128(fold128(x1, k34), x3);
  x1 = _mm_xor_si128(fold128(x1, k34), x4);
  for (; n - off >= 16; off += 16)
    x1 = _mm_xor_si128(fold128(x1, k34), load_block<kCopy>(p, dst, off));

  // 128 -> 64 bits (appending 32 zero bits), then 64 -> 32 by Barrett reduction.
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k34, 0x10));
  __m128i hi = _mm_srli_si128(x1, 4);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k5, 0x00), hi);
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
  return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(t, x1), 1));
}

template <bool kCopy>
RZ_CLMUL_TARGET uint32_t fold_clmul(uint32_t crc, const uint8_t* p, size_t n, uint8_t* dst) {
  const __m128i k12 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
  __m128i x1 =
      _mm_xor_si128(load_block<kCopy>(p, dst, 0), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = load_block<kCopy>(p, dst, 16);
  __m128i x3 = load_block<kCopy>(p, dst, 32);
  __m128i x4 = load_block<kCopy>(p, dst, 48);
  size_t off = 64;
  for (; n - off >= 64; off += 64) {
    x1 = _mm_xor_si128(fold128(x1, k12), load_block<kCopy>(p, dst, off));
    x2 = _mm_xor_si128(fold128(x2, k12), load_block<kCopy>(p, dst, off + 16));
    x3 = _mm_xor_si128(fold128(x3, k12), load_block<kCopy>(p, dst, off + 32));
    x4 = _mm_xor_si128(fold128(x4, k12), load_block<kCopy>(p, dst, off + 48));
  }
  return finish_clmul<kCopy>(x1, x2, x3, x4, p, off, n, dst);
}

// The same folding four 512-bit registers at a time (256 bytes per step)
// where the CPU multiplies in 512-bit registers.  The fold constants for a
// distance of 2048 bits are x^2080 and x^2016 mod P; 512 bits, x^544 and
// x^480 (k1, k2 above).  Takes n >= 256 with n a multiple of 16.
#define RZ_VCLMUL_TARGET __attribute__((target("avx512f,avx512vl,vpclmulqdq,pclmul,sse4.1")))

// GCC 12 reports the "undefined" source operand inside its own 512-bit
// extract intrinsics as uninitialised; the value is never read.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
RZ_VCLMUL_TARGET inline __m512i fold512(__m512i x, __m512i k, __m512i next) {
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                   _mm512_clmulepi64_epi128(x, k, 0x11), next, 0x96);
}

template <bool kCopy>
RZ_VCLMUL_TARGET inline __m512i load512(const uint8_t* p, uint8_t* dst, size_t off) {
  __m512i v = _mm512_loadu_si512(p + off);
  if constexpr (kCopy) _mm512_storeu_si512(dst + off, v);
  return v;
}

template <bool kCopy>
RZ_VCLMUL_TARGET uint32_t fold_vclmul(uint32_t crc, const uint8_t* p, size_t n, uint8_t* dst) {
  const __m512i k2048 = _mm512_set_epi64(0x1322d1430, 0x11542778a, 0x1322d1430, 0x11542778a,
                                         0x1322d1430, 0x11542778a, 0x1322d1430, 0x11542778a);
  const __m512i k512 = _mm512_set_epi64(0x1c6e41596, 0x154442bd4, 0x1c6e41596, 0x154442bd4,
                                        0x1c6e41596, 0x154442bd4, 0x1c6e41596, 0x154442bd4);
  __m512i z0 = _mm512_xor_si512(load512<kCopy>(p, dst, 0),
                                _mm512_maskz_set1_epi32(1, static_cast<int>(crc)));
  __m512i z1 = load512<kCopy>(p, dst, 64);
  __m512i z2 = load512<kCopy>(p, dst, 128);
  __m512i z3 = load512<kCopy>(p, dst, 192);
  size_t off = 256;
  for (; n - off >= 256; off += 256) {
    z0 = fold512(z0, k2048, load512<kCopy>(p, dst, off));
    z1 = fold512(z1, k2048, load512<kCopy>(p, dst, off + 64));
    z2 = fold512(z2, k2048, load512<kCopy>(p, dst, off + 128));
    z3 = fold512(z3, k2048, load512<kCopy>(p, dst, off + 192));
  }
  z0 = fold512(z0, k512, z1);
  z0 = fold512(z0, k512, z2);
  z0 = fold512(z0, k512, z3);
  for (; n - off >= 64; off += 64) z0 = fold512(z0, k512, load512<kCopy>(p, dst, off));
  return finish_clmul<kCopy>(_mm512_maskz_extracti32x4_epi32(0xF, z0, 0),
                             _mm512_maskz_extracti32x4_epi32(0xF, z0, 1),
                             _mm512_maskz_extracti32x4_epi32(0xF, z0, 2),
                             _mm512_maskz_extracti32x4_epi32(0xF, z0, 3), p, off, n, dst);
}

#pragma GCC diagnostic pop

[[maybe_unused]] bool detect_vclmul() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx512f") &&
         __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("pclmul") &&
         __builtin_cpu_supports("sse4.1");
}

bool detect_clmul() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

#endif

}  // namespace

const uint32_t kCrcTable[256] = {
#define RZ_T(i) kSlices[0][i]
#define RZ_T4(i) RZ_T(i), RZ_T(i + 1), RZ_T(i + 2), RZ_T(i + 3)
#define RZ_T16(i) RZ_T4(i), RZ_T4(i + 4), RZ_T4(i + 8), RZ_T4(i + 12)
#define RZ_T64(i) RZ_T16(i), RZ_T16(i + 16), RZ_T16(i + 32), RZ_T16(i + 48)
    RZ_T64(0), RZ_T64(64), RZ_T64(128), RZ_T64(192)
#undef RZ_T64
#undef RZ_T16
#undef RZ_T4
#undef RZ_T
};

uint32_t crc_update_bytewise(uint32_t crc, const uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) crc = crc_step(crc, data[i]);
  return crc;
}

uint32_t crc_update_sliced(uint32_t crc, const uint8_t* data, size_t n) {
  const auto& t = kSlices;
  for (; n >= 8; n -= 8, data += 8) {
    uint32_t a = load_le32(data) ^ crc;
    uint32_t b = load_le32(data + 4);
    crc = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^
          t[3][b & 0xFF] ^ t[2][(b >> 8) & 0xFF] ^ t[1][(b >> 16) & 0xFF] ^ t[0][b >> 24];
  }
  return crc_update_bytewise(crc, data, n);
}

bool crc_has_clmul() {
#ifdef RZ_CRC_CLMUL
  static const bool has = detect_clmul();
  return has;
#else
  return false;
#endif
}

bool crc_method_available(CrcMethod method) {
  switch (method) {
    case CrcMethod::bytewise:
    case CrcMethod::sliced:
      return true;
    case CrcMethod::clmul128:
      return crc_has_clmul();
    case CrcMethod::clmul512:
      // 64-bit builds only: a 32-bit build has eight vector registers, and
      // the spills of 512-bit registers would rely on stack realignment.
#if defined(RZ_CRC_CLMUL) && defined(__x86_64__)
    {
      static const bool has = detect_vclmul();
      return has;
    }
#else
      return false;
#endif
  }
  return false;
}

uint32_t crc_copy_with(CrcMethod method, uint32_t crc, uint8_t* dst, const uint8_t* src, size_t n) {
#ifdef RZ_CRC_CLMUL
  size_t bulk = n & ~size_t{15};
  if (method == CrcMethod::clmul512 && n >= 256 && crc_method_available(method)) {
    crc =
        dst ? fold_vclmul<true>(crc, src, bulk, dst) : fold_vclmul<false>(crc, src, bulk, nullptr);
  } else if ((method == CrcMethod::clmul512 || method == CrcMethod::clmul128) && n >= 64 &&
             crc_has_clmul()) {
    crc = dst ? fold_clmul<true>(crc, src, bulk, dst) : fold_clmul<false>(crc, src, bulk, nullptr);
  } else {
    bulk = 0;
  }
  src += bulk;
  if (dst) dst += bulk;
  n -= bulk;
#endif
  if (dst && n) std::memcpy(dst, src, n);
  return method == CrcMethod::bytewise ? crc_update_bytewise(crc, src, n)
                                       : crc_update_sliced(crc, src, n);
}

namespace {
CrcMethod best_method() {
  static const CrcMethod best = crc_method_available(CrcMethod::clmul512)   ? CrcMethod::clmul512
                                : crc_method_available(CrcMethod::clmul128) ? CrcMethod::clmul128
                                                                            : CrcMethod::sliced;
  return best;
}
}  // namespace

uint32_t crc_update(uint32_t crc, const uint8_t* data, size_t n) {
  return crc_copy_with(best_method(), crc, nullptr, data, n);
}

uint32_t crc_copy(uint32_t crc, uint8_t* dst, const uint8_t* src, size_t n) {
  return crc_copy_with(best_method(), crc, dst, src, n);
}

void running_crc_reset() {
  g_running_crc = 0xFFFFFFFFu;
}

uint32_t running_crc_add(const uint8_t* data, size_t n) {
  g_running_crc = crc_update(g_running_crc, data, n);
  return g_running_crc;
}

uint32_t running_crc_add_copy(uint8_t* dst, const uint8_t* src, size_t n) {
  // A few bytes (tiny blocks, small reads) cost less by the table step than
  // through the dispatch.
  if (n < 16) {
    uint32_t crc = g_running_crc;
    for (size_t i = 0; i < n; ++i) {
      dst[i] = src[i];
      crc = crc_step(crc, src[i]);
    }
    return g_running_crc = crc;
  }
  g_running_crc = crc_copy(g_running_crc, dst, src, n);
  return g_running_crc;
}

uint32_t running_crc_value() {
  return g_running_crc;
}
void running_crc_set(uint32_t value) {
  g_running_crc = value;
}

}  // namespace rz
