// SPDX-License-Identifier: Apache-2.0
#include "source/utf8.h"

#include <emmintrin.h>

#include <cstring>

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

std::optional<Utf8Error> find_utf8_error_scalar(std::string_view bytes, std::size_t from) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = from;
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

namespace {

__m128i at_least(__m128i x, unsigned char k) {
  return _mm_cmpeq_epi8(_mm_max_epu8(x, _mm_set1_epi8(static_cast<char>(k))), x);
}
__m128i equals(__m128i x, unsigned char k) { return _mm_cmpeq_epi8(x, _mm_set1_epi8(static_cast<char>(k))); }

// True when the 16 bytes `cur`, preceded by `prev`, break a rule of UTF-8:
// a continuation byte exactly where a lead byte before it asks for one, no
// byte that never occurs, and the second-byte ranges after E0, ED, F0, F4.
bool block_invalid(__m128i prev, __m128i cur) {
  const __m128i prev1 = _mm_or_si128(_mm_slli_si128(cur, 1), _mm_srli_si128(prev, 15));
  const __m128i prev2 = _mm_or_si128(_mm_slli_si128(cur, 2), _mm_srli_si128(prev, 14));
  const __m128i prev3 = _mm_or_si128(_mm_slli_si128(cur, 3), _mm_srli_si128(prev, 13));
  const __m128i continuation = equals(_mm_and_si128(cur, _mm_set1_epi8(static_cast<char>(0xC0))), 0x80);
  const __m128i wanted = _mm_or_si128(at_least(prev1, 0xC0), _mm_or_si128(at_least(prev2, 0xE0), at_least(prev3, 0xF0)));
  __m128i error = _mm_xor_si128(continuation, wanted);
  error = _mm_or_si128(error, at_least(cur, 0xF5));
  error = _mm_or_si128(error, equals(_mm_and_si128(cur, _mm_set1_epi8(static_cast<char>(0xFE))), 0xC0));
  const __m128i high_a0 = at_least(cur, 0xA0);
  const __m128i high_90 = at_least(cur, 0x90);
  error = _mm_or_si128(error, _mm_andnot_si128(high_a0, equals(prev1, 0xE0)));
  error = _mm_or_si128(error, _mm_and_si128(high_a0, equals(prev1, 0xED)));
  error = _mm_or_si128(error, _mm_andnot_si128(high_90, equals(prev1, 0xF0)));
  error = _mm_or_si128(error, _mm_and_si128(high_90, equals(prev1, 0xF4)));
  return _mm_movemask_epi8(error) != 0;
}

__m128i load(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

}  // namespace

namespace {

__m128i has_zero(__m128i x) { return _mm_cmpeq_epi8(x, _mm_setzero_si128()); }

// The failure of the text whose first failing 16-byte block starts at
// `block`, decoded byte by byte from the character that block starts in.
// The bytes before the block are whole characters but for the last one,
// which starts within the 3 bytes before it.
std::optional<Utf8Error> locate(std::string_view bytes, std::size_t block) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t start = block < 3 ? 0 : block - 3;
  while (start < block && (p[start] & 0xC0) == 0x80) ++start;
  return find_utf8_error_scalar(bytes, start);
}

}  // namespace

void TextScan::scan_nul(std::string_view text, std::size_t end) {
  if (!nul_ && end > nul_done_ && std::memchr(text.data() + nul_done_, '\0', end - nul_done_) != nullptr) nul_ = true;
  nul_done_ = end;
}

void TextScan::advance(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  if (failed_) return scan_nul(text, n);
  // Blocks are checked with vector operations; the first failing one is
  // decoded byte by byte later, to say where and how.
  __m128i prev = load(prev_);
  __m128i zeros = _mm_setzero_si128();
  // Line feeds are summed per byte lane, each lane moved to the total
  // before it can pass 255.
  const __m128i newline = _mm_set1_epi8('\n');
  __m128i feeds = _mm_setzero_si128();
  unsigned pending = 0;
  const auto flush = [&] {
    const __m128i sums = _mm_sad_epu8(feeds, _mm_setzero_si128());
    line_feeds_ += static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) +
                   static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    feeds = _mm_setzero_si128();
    pending = 0;
  };
  std::size_t i = done_;
  while (i + 16 <= n) {
    // Runs of ASCII after a complete character need no other check.
    if ((_mm_movemask_epi8(prev) & 0xE000) == 0) {
      while (i + 64 <= n) {
        const __m128i a = load(p + i);
        const __m128i b = load(p + i + 16);
        const __m128i c = load(p + i + 32);
        const __m128i d = load(p + i + 48);
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d))) != 0) break;
        zeros = _mm_or_si128(zeros, has_zero(_mm_min_epu8(_mm_min_epu8(a, b), _mm_min_epu8(c, d))));
        const __m128i ab = _mm_add_epi8(_mm_cmpeq_epi8(a, newline), _mm_cmpeq_epi8(b, newline));
        const __m128i cd = _mm_add_epi8(_mm_cmpeq_epi8(c, newline), _mm_cmpeq_epi8(d, newline));
        feeds = _mm_sub_epi8(feeds, _mm_add_epi8(ab, cd));
        if ((pending += 4) > 250) flush();
        i += 64;
        prev = _mm_setzero_si128();
      }
      if (i + 16 > n) break;
    }
    const __m128i cur = load(p + i);
    zeros = _mm_or_si128(zeros, has_zero(cur));
    feeds = _mm_sub_epi8(feeds, _mm_cmpeq_epi8(cur, newline));
    if (++pending > 250) flush();
    if (block_invalid(prev, cur)) {
      failed_ = true;
      done_ = nul_done_ = i;
      if (_mm_movemask_epi8(zeros) != 0) nul_ = true;
      return scan_nul(text, n);
    }
    prev = cur;
    i += 16;
  }
  flush();
  if (_mm_movemask_epi8(zeros) != 0) nul_ = true;
  _mm_storeu_si128(reinterpret_cast<__m128i*>(prev_), prev);
  done_ = nul_done_ = i;
}

void TextScan::finish(std::string_view text) {
  advance(text);
  // The failing block is decoded on the final text, as a whole-text check would.
  if (failed_) {
    error_ = locate(text, done_);
    return;
  }
  // The rest, padded with zeros, which also catches a sequence cut by the end.
  const std::size_t rest = text.size() - done_;
  alignas(16) unsigned char tail[16] = {};
  if (rest > 0) std::memcpy(tail, text.data() + done_, rest);
  if (std::memchr(tail, '\0', rest) != nullptr) nul_ = true;
  for (std::size_t k = 0; k < rest; ++k) line_feeds_ += static_cast<std::uint64_t>(tail[k] == '\n');
  if (block_invalid(load(prev_), load(tail))) {
    failed_ = true;
    error_ = locate(text, done_);
    return;
  }
  done_ = nul_done_ = text.size();
}

std::optional<Utf8Error> find_utf8_error(std::string_view bytes) {
  TextScan scan;
  scan.finish(bytes);
  return scan.error();
}

std::string describe(const Utf8Error& error) {
  if (error.length == 0) return "incomplete utf-8 byte sequence from index " + std::to_string(error.index);
  return "invalid utf-8 sequence of " + std::to_string(error.length) + " bytes from index " +
         std::to_string(error.index);
}

}  // namespace tuvel
