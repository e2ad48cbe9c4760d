// SPDX-License-Identifier: Apache-2.0
#include "read/line_index.h"

#include <emmintrin.h>

#include <cstring>
#include <string>

namespace tuvel {

std::uint64_t count_line_feeds(std::string_view text) {
  const char* p = text.data();
  std::size_t n = text.size();
  std::uint64_t total = 0;
  const __m128i nl = _mm_set1_epi8('\n');
  // Sum per-byte matches in 8-bit lanes, widening every 255 blocks.
  while (n >= 16) {
    std::size_t blocks = n / 16;
    if (blocks > 255) blocks = 255;
    __m128i acc = _mm_setzero_si128();
    for (std::size_t b = 0; b < blocks; ++b) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      acc = _mm_sub_epi8(acc, _mm_cmpeq_epi8(v, nl));
      p += 16;
    }
    __m128i sums = _mm_sad_epu8(acc, _mm_setzero_si128());
    total += static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) +
             static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    n -= blocks * 16;
  }
  for (std::size_t i = 0; i < n; ++i) total += static_cast<std::uint64_t>(p[i] == '\n');
  return total;
}

std::uint64_t line_entry_count(std::string_view text) { return line_entry_count(text, count_line_feeds(text)); }

std::uint64_t line_entry_count(std::string_view text, std::uint64_t line_feeds) {
  if (text.empty()) return 1;
  // Every line feed but a final one starts a line; plus the 0 and the length.
  if (text.back() == '\n') --line_feeds;
  return line_feeds + 2;
}

namespace {

// Line feeds are counted a block at a time and only the block that holds the
// wanted one is searched byte by byte, so far entries cost one vector pass.
constexpr std::size_t kSeekBlock = std::size_t{255} * 16;

// The offset just past the `k`-th line feed at or after `pos`, or the length
// when there are fewer.
std::uint64_t skip_line_feeds(std::string_view text, std::uint64_t pos, std::uint64_t k) {
  while (k > 0 && text.size() - pos >= kSeekBlock) {
    const std::uint64_t feeds = count_line_feeds(text.substr(pos, kSeekBlock));
    if (feeds >= k) break;
    k -= feeds;
    pos += kSeekBlock;
  }
  for (; k > 0; --k) {
    const void* hit = std::memchr(text.data() + pos, '\n', text.size() - pos);
    if (hit == nullptr) return text.size();
    pos = static_cast<std::uint64_t>(static_cast<const char*>(hit) - text.data()) + 1;
  }
  return pos;
}

}  // namespace

void line_entries(std::string_view text, std::span<const std::uint64_t> ks, std::span<std::uint64_t> out) {
  // Entry k > 0 lies just past the k-th line feed; the last entry, which has
  // no line feed of its own when the text does not end with one, is the length.
  std::uint64_t entry = 0;  // index of the entry at `pos`
  std::uint64_t pos = 0;
  for (std::size_t i = 0; i < ks.size(); ++i) {
    if (ks[i] > entry) {
      pos = skip_line_feeds(text, pos, ks[i] - entry);
      entry = ks[i];
    }
    out[i] = pos;
  }
}

std::vector<std::uint64_t> line_starts(std::string_view text) {
  std::vector<std::uint64_t> starts{0};
  if (text.empty()) return starts;
  // Line feeds before the last byte start a line; a final one does not.
  const std::string_view body = text.substr(0, text.size() - 1);
  std::size_t pos = 0;
  while (const void* hit = std::memchr(body.data() + pos, '\n', body.size() - pos)) {
    pos = static_cast<std::size_t>(static_cast<const char*>(hit) - body.data()) + 1;
    starts.push_back(pos);
  }
  starts.push_back(text.size());
  return starts;
}

Error invalid_range(std::uint64_t entries) {
  return Error::edit(EditCode::InvalidRange,
                     "expected 1 <= start <= end <= " + std::to_string(entries) + "; end is exclusive");
}

}  // namespace tuvel
