// SPDX-License-Identifier: Apache-2.0
#pragma once
// die - reports a failure on standard error and ends the process.

#include <string_view>

namespace tuvel::speech {

/// Writes "tuvel-speech: {message}\n" to standard error in one write, the
/// message escaped by escapeText, then exits with `code` at once.
[[noreturn]] void die(std::string_view message, int code);

}  // namespace tuvel::speech
