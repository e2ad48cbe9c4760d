// SPDX-License-Identifier: Apache-2.0
#pragma once
// The package manager as the engine runs it to install a model: one
// installation at a time among our processes, the installer found by its
// absolute path and run with an environment of our own.

#include <string>

#include "engine/expected.h"
#include "engine/pocketsphinx/unique_fd.h"

namespace tuvel::speech::pocketsphinx {

/// InstallLock - held while a model is checked and installed, so that
/// transcriptions started together install it once and the others find it.
class InstallLock {
 public:
  /// Waits for the lock; fails when its file cannot be opened or is not ours.
  static Expected<InstallLock> acquire();

 private:
  explicit InstallLock(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;  // closing it releases the lock
};

struct InstallerRun {
  int status;             ///< exit status, or -1 when it did not run to its end
  std::string lastError;  ///< the last line it wrote on standard error
};

/// Reinstalls `package` with /usr/bin/apt-get, waiting for the package
/// manager's own lock when another installation holds it.
Expected<InstallerRun> reinstallPackage(const std::string& package);

}  // namespace tuvel::speech::pocketsphinx
