// SPDX-License-Identifier: Apache-2.0
#pragma once
// The checksums Debian's package manager recorded for a package's files when
// it installed them, and the same digest of a file as it is now.

#include <string>
#include <vector>

#include "engine/expected.h"

namespace tuvel::speech::pocketsphinx {

struct RecordedFile {
  std::string path;  ///< absolute
  std::string md5;   ///< 32 lowercase hexadecimal digits
};

/// The files `package` installed under `directory`, as its md5sums list in
/// the package manager's database names them; failing when the list cannot be read.
Expected<std::vector<RecordedFile>> recordedFiles(const std::string& package,
                                                  const std::string& directory);

/// The MD5 digest of the file at `path` in lowercase hexadecimal, or why it
/// could not be read ("{path}: {description}").
Expected<std::string> fileMd5(const std::string& path);

}  // namespace tuvel::speech::pocketsphinx
