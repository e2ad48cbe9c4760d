// SPDX-License-Identifier: Apache-2.0
#pragma once
// moduleFileMissing - tells a module that is not there from one that is there
// but cannot be loaded (a library it needs is missing, or it is damaged).

#include <sys/stat.h>

#include <cerrno>
#include <string>

namespace tuvel::speech {

/// Whether nothing is at `path`, the file of a module that failed to load.
inline bool moduleFileMissing(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) != 0 && errno == ENOENT;
}

}  // namespace tuvel::speech
