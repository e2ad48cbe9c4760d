// UTF-8 validation that locates the first invalid sequence the way a
// maximal-subpart decoder does, with a vectorised path over ASCII runs.
#pragma once

#include <cstddef>
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

/// find_utf8_error_scalar: the same, decoding byte by byte from `from`, a
/// character boundary (the reference for the vector path, and its locator).
std::optional<Utf8Error> find_utf8_error_scalar(std::string_view bytes, std::size_t from = 0);

/// describe: "invalid utf-8 sequence of {n} bytes from index {i}" or
/// "incomplete utf-8 byte sequence from index {i}".
std::string describe(const Utf8Error& error);

}  // namespace tuvel
