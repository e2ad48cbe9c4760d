// SPDX-License-Identifier: Apache-2.0
// OccurrenceFinder: non-overlapping exact occurrences of a needle, left to
// right, in time linear in the text. A vectorised first/last-byte filter
// finds candidates; when verifying them costs too much (repetitive texts),
// the rest is searched with glibc's memmem, which is linear (two-way).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tuvel {

class OccurrenceFinder {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  /// `needle` must not be empty; both views must outlive the finder.
  OccurrenceFinder(std::string_view text, std::string_view needle);

  /// The offset of the next occurrence, starting after the end of the
  /// previous one, or npos.
  std::size_t next();

 private:
  bool refill();
  std::size_t next_by_memmem();

  std::string_view text_;
  std::string_view needle_;
  std::size_t resume_ = 0;       ///< earliest start of the next occurrence
  std::size_t block_ = 0;        ///< offset of the candidate bits in `mask_`
  std::size_t scan_ = 0;         ///< next position the filter has not looked at
  std::uint64_t mask_ = 0;       ///< candidate starts at block_ + bit
  std::uint64_t verified_ = 0;   ///< bytes compared while verifying candidates
  bool vector_ = false;          ///< filter usable on this machine
  bool linear_fallback_ = false; ///< memmem from `resume_` on
};

}  // namespace tuvel
