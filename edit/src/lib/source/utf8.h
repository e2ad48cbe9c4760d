// SPDX-License-Identifier: Apache-2.0
// UTF-8 validation that locates the first invalid sequence the way a
// maximal-subpart decoder does, with a vectorised path over ASCII runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tuvel {

/// Utf8Error: where decoding stopped. `length` is 1..3 for an invalid
/// sequence and 0 when the text ends inside a sequence.
struct Utf8Error {
  std::size_t index = 0;
  std::size_t length = 0;
};

/// find_utf8_error: the first decoding failure of `bytes`, if any.
std::optional<Utf8Error> find_utf8_error(std::string_view bytes);

/// TextScan: the UTF-8 check, the NUL scan and the line feed count of a
/// text that grows at its end (a snapshot being read), so each part is
/// checked while it is still in cache. Every call is given the whole text so far; the text may move but
/// its checked prefix must not change.
class TextScan {
 public:
  /// Checks the complete 16-byte blocks not yet checked.
  void advance(std::string_view text);
  /// Checks the rest; call once, with the final text.
  void finish(std::string_view text);
  bool has_nul() const { return nul_; }
  /// The first decoding failure; meaningful after finish().
  const std::optional<Utf8Error>& error() const { return error_; }
  /// Line feeds in the text; meaningful after finish() without an error.
  std::uint64_t line_feeds() const { return line_feeds_; }

 private:
  void scan_nul(std::string_view text, std::size_t end);

  unsigned char prev_[16] = {};  ///< the block before `done_`
  std::size_t done_ = 0;         ///< bytes checked; after a failure, where the failing block starts
  std::size_t nul_done_ = 0;     ///< bytes checked for NUL once UTF-8 has failed
  std::uint64_t line_feeds_ = 0;
  bool nul_ = false;
  bool failed_ = false;
  std::optional<Utf8Error> error_;
};

/// find_utf8_error_scalar: the same, decoding byte by byte from `from`, a
/// character boundary (the reference for the vector path, and its locator).
std::optional<Utf8Error> find_utf8_error_scalar(std::string_view bytes, std::size_t from = 0);

/// describe: "invalid utf-8 sequence of {n} bytes from index {i}" or
/// "incomplete utf-8 byte sequence from index {i}".
std::string describe(const Utf8Error& error);

}  // namespace tuvel
