#include "source/utf8.h"

#include <emmintrin.h>

namespace tuvel {
namespace {

// Index of the first byte at or after `i` with the high bit set, or `n`.
std::size_t skip_ascii(const unsigned char* p, std::size_t i, std::size_t n) {
  while (i + 64 <= n) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 32));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 48));
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d))) != 0) break;
    i += 64;
  }
  while (i + 16 <= n) {
    const int mask = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    i += 16;
  }
  while (i < n && p[i] < 0x80) ++i;
  return i;
}

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

std::optional<Utf8Error> find_utf8_error(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while ((i = skip_ascii(p, i, n)) < n) {
    // Decode multi-byte sequences until the next ASCII byte.
    while (i < n && p[i] >= 0x80) {
      const unsigned char lead = p[i];
      std::size_t width;
      unsigned char lo = 0x80;  // allowed range of the second byte
      unsigned char hi = 0xBF;
      if (lead >= 0xC2 && lead <= 0xDF) {
        width = 2;
      } else if (lead >= 0xE0 && lead <= 0xEF) {
        width = 3;
        if (lead == 0xE0) lo = 0xA0;  // overlong
        if (lead == 0xED) hi = 0x9F;  // surrogates
      } else if (lead >= 0xF0 && lead <= 0xF4) {
        width = 4;
        if (lead == 0xF0) lo = 0x90;  // overlong
        if (lead == 0xF4) hi = 0x8F;  // above U+10FFFF
      } else {
        return Utf8Error{i, 1};
      }
      if (i + 1 >= n) return Utf8Error{i, 0};
      if (p[i + 1] < lo || p[i + 1] > hi) return Utf8Error{i, 1};
      for (std::size_t k = 2; k < width; ++k) {
        if (i + k >= n) return Utf8Error{i, 0};
        if (!is_continuation(p[i + k])) return Utf8Error{i, k};
      }
      i += width;
    }
  }
  return std::nullopt;
}

std::string describe(const Utf8Error& error) {
  if (error.length == 0) return "incomplete utf-8 byte sequence from index " + std::to_string(error.index);
  return "invalid utf-8 sequence of " + std::to_string(error.length) + " bytes from index " +
         std::to_string(error.index);
}

}  // namespace tuvel
