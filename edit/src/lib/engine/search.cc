// SPDX-License-Identifier: Apache-2.0
#include "engine/search.h"

#include <immintrin.h>

#include <cstring>

namespace tuvel {

namespace {

constexpr std::size_t kBlock = 64;
/// Failed verifications may compare this many bytes per byte filtered (plus
/// a constant) before the search hands over to memmem.
constexpr std::uint64_t kVerifyPerByte = 2;
constexpr std::uint64_t kVerifySlack = 4096;

/// From block `from` on (blocks start below `end`), the first 64-byte block
/// with a position i where text[i] == first and text[i + gap] == last.
/// Returns its start and the candidate bits, or `end`-or-beyond and 0.
__attribute__((target("avx2"))) std::size_t filter_avx2(const char* s, std::size_t from, std::size_t end, char first,
                                                         char last, std::size_t gap, std::uint64_t* mask) {
  const __m256i f = _mm256_set1_epi8(first);
  const __m256i l = _mm256_set1_epi8(last);
  for (; from < end; from += kBlock) {
    const auto* a = reinterpret_cast<const __m256i*>(s + from);
    const auto* b = reinterpret_cast<const __m256i*>(s + from + gap);
    const __m256i lo = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_loadu_si256(a), f),
                                        _mm256_cmpeq_epi8(_mm256_loadu_si256(b), l));
    const __m256i hi = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_loadu_si256(a + 1), f),
                                        _mm256_cmpeq_epi8(_mm256_loadu_si256(b + 1), l));
    const std::uint64_t bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(lo)) |
                               static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(hi))) << 32;
    if (bits != 0) {
      *mask = bits;
      return from;
    }
  }
  *mask = 0;
  return from;
}

/// The middle bytes of a candidate; short needles are compared inline, as a
/// memcmp call per occurrence would cost more than the filter.
bool middle_matches(const char* at, const char* needle, std::size_t m) {
  if (m <= 2) return true;
  if (m > 18) return std::memcmp(at + 1, needle + 1, m - 2) == 0;
  for (std::size_t i = 1; i + 1 < m; ++i)
    if (at[i] != needle[i]) return false;
  return true;
}

}  // namespace

OccurrenceFinder::OccurrenceFinder(std::string_view text, std::string_view needle)
    : text_(text), needle_(needle), vector_(static_cast<bool>(__builtin_cpu_supports("avx2"))) {
  linear_fallback_ = !vector_;
}

bool OccurrenceFinder::refill() {
  const std::size_t n = text_.size();
  const std::size_t m = needle_.size();
  if (n < m) return false;
  const std::size_t positions = n - m + 1;  // possible starts
  if (scan_ >= positions) return false;
  const std::size_t gap = m - 1;
  const char first = needle_.front();
  const char last = needle_.back();
  // Whole blocks while both loads stay inside the text.
  const std::size_t block_end = n >= kBlock + gap ? n - kBlock - gap + 1 : 0;
  if (scan_ < block_end) {
    block_ = filter_avx2(text_.data(), scan_, block_end, first, last, gap, &mask_);
    scan_ = block_;
    if (mask_ != 0) {
      scan_ += kBlock;
      return true;
    }
  }
  // Fewer than 64 starts remain: check them one by one.
  block_ = scan_;
  mask_ = 0;
  for (std::size_t i = scan_; i < positions; ++i)
    if (text_[i] == first && text_[i + gap] == last) mask_ |= std::uint64_t{1} << (i - scan_);
  scan_ = positions;
  return mask_ != 0;
}

std::size_t OccurrenceFinder::next_by_memmem() {
  if (resume_ >= text_.size()) return npos;
  const void* hit = ::memmem(text_.data() + resume_, text_.size() - resume_, needle_.data(), needle_.size());
  if (hit == nullptr) {
    resume_ = text_.size();
    return npos;
  }
  const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data());
  resume_ = at + needle_.size();
  return at;
}

std::size_t OccurrenceFinder::next() {
  if (linear_fallback_) return next_by_memmem();
  const std::size_t m = needle_.size();
  for (;;) {
    while (mask_ != 0) {
      const std::size_t at = block_ + static_cast<std::size_t>(__builtin_ctzll(mask_));
      mask_ &= mask_ - 1;
      if (at < resume_) continue;  // inside the previous occurrence
      // First and last byte matched; the middle decides.
      if (!middle_matches(text_.data() + at, needle_.data(), m)) {
        verified_ += m - 2;
        if (verified_ > kVerifyPerByte * scan_ + kVerifySlack) {
          linear_fallback_ = true;
          return next_by_memmem();
        }
        continue;
      }
      resume_ = at + m;
      return at;
    }
    if (!refill()) return npos;
  }
}

}  // namespace tuvel
