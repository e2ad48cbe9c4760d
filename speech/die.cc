#include "die.h"

#include <unistd.h>

#include <string>

namespace tuvel::speech {

void die(std::string_view message, int code) {
  std::string line = "tuvel-speech: ";
  line += message;
  line += '\n';
  // One write keeps the line whole; a failed write has nowhere to be reported.
  [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
  ::_exit(code);
}

}  // namespace tuvel::speech
