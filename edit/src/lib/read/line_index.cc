#include "read/line_index.h"

#include <emmintrin.h>

#include <cstring>

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
  for (std::size_t i = 0; i < n; ++i) total += p[i] == '\n';
  return total;
}

std::uint64_t line_entry_count(std::string_view text) {
  if (text.empty()) return 1;
  // Every line feed but a final one starts a line; plus the 0 and the length.
  std::uint64_t feeds = count_line_feeds(text);
  if (text.back() == '\n') --feeds;
  return feeds + 2;
}

void line_entries(std::string_view text, std::span<const std::uint64_t> ks, std::span<std::uint64_t> out) {
  const std::uint64_t last = line_entry_count(text) - 1;
  std::uint64_t entry = 0;  // index of the entry at `pos`
  std::uint64_t pos = 0;
  for (std::size_t i = 0; i < ks.size(); ++i) {
    const std::uint64_t k = ks[i];
    if (k == last) {
      out[i] = text.size();
      continue;
    }
    while (entry < k) {
      const void* hit = std::memchr(text.data() + pos, '\n', text.size() - pos);
      pos = static_cast<std::uint64_t>(static_cast<const char*>(hit) - text.data()) + 1;
      ++entry;
    }
    out[i] = pos;
  }
}

std::vector<std::uint64_t> line_starts(std::string_view text) {
  std::vector<std::uint64_t> starts{0};
  for (std::size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] == '\n') starts.push_back(i + 1);
  if (!text.empty()) starts.push_back(text.size());
  return starts;
}

}  // namespace tuvel
