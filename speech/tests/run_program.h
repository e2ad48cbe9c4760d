// SPDX-License-Identifier: Apache-2.0
#pragma once
// runProgram - runs a program as a caller would and collects what it says.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tuvel::speech::testing {

struct Outcome {
  int status;  // exit status; 128 + signal number when killed
  std::string out;
  std::string err;
};

struct Launch {
  std::string program;            // the file to execute
  std::vector<std::string> argv;  // argv[0] included
  std::string cwd;                // empty: the test's own
  /// Variables to set, or to remove when the value is none.
  std::vector<std::pair<std::string, std::optional<std::string>>> env;
  /// Standard output is a pipe whose reading end is closed at once.
  bool closedReader = false;
};

Outcome runProgram(const Launch& launch);

/// Runs a shell command line; its status, 127 when it could not run.
int shell(const std::string& command);

}  // namespace tuvel::speech::testing
