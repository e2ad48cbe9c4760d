// SPDX-License-Identifier: Apache-2.0
#include "die.h"

#include <unistd.h>

#include <string>

#include "escape_text.h"

namespace tuvel::speech {

void die(std::string_view message, int code) {
  std::string line = "tuvel-speech: ";
  // Paths in messages may hold any bytes; the line stays one line of UTF-8.
  line += escapeText(message);
  line += '\n';
  // One write keeps the line whole; a failed write has nowhere to be reported.
  [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
  ::_exit(code);
}

}  // namespace tuvel::speech
