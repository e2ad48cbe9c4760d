// SPDX-License-Identifier: Apache-2.0
#include "engine/pocketsphinx/installer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <system_error>
#include <vector>

namespace tuvel::speech::pocketsphinx {
namespace {

// Only root installs, so only root takes it. A file someone else made there
// could be held by them for ever: it is refused, not waited for.
constexpr const char* LOCK_FILE = "/run/lock/tuvel-speech-model.lock";

// The installer, never looked up in the caller's PATH, and the whole of its
// environment: nothing of the caller's reaches a program that may run as root.
constexpr const char* INSTALLER = "/usr/bin/apt-get";
constexpr const char* INSTALLER_ENVIRONMENT[] = {
    "PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LANG=C", "DEBIAN_FRONTEND=noninteractive", nullptr};
// How long apt-get waits for another installation to let go of the package
// manager's lock, in seconds.
constexpr const char* PACKAGE_LOCK_WAIT = "DPkg::Lock::Timeout=300";

std::string errnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

}  // namespace

Expected<InstallLock> InstallLock::acquire() {
  UniqueFd fd(::open(LOCK_FILE, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd.get() < 0) return PlatformError{std::string(LOCK_FILE) + ": " + errnoText(errno)};
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) return PlatformError{std::string(LOCK_FILE) + ": " + errnoText(errno)};
  if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid())
    return PlatformError{std::string(LOCK_FILE) + ": not a lock file of this program"};
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return PlatformError{std::string(LOCK_FILE) + ": " + errnoText(errno)};
  }
  return InstallLock(std::move(fd));
}

Expected<InstallerRun> reinstallPackage(const std::string& package) {
  std::vector<std::string> argv = {"apt-get", "-o", PACKAGE_LOCK_WAIT, "install", "-y", "-q",
                                   "--reinstall", package};
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return PlatformError{errnoText(errno)};
  UniqueFd readEnd(pipeFds[0]);
  UniqueFd writeEnd(pipeFds[1]);

  // No input, the output dropped, the errors collected.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDERR_FILENO);

  // The program ignores SIGPIPE and SIGXFSZ; the installer gets them back.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t restored;
  sigemptyset(&restored);
  sigaddset(&restored, SIGPIPE);
  sigaddset(&restored, SIGXFSZ);
  posix_spawnattr_setsigdefault(&attributes, &restored);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (std::string& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);

  pid_t pid = 0;
  // posix_spawn's interface takes the environment as non-const strings it does not change.
  int spawned = posix_spawn(&pid, INSTALLER, &actions, &attributes, args.data(),
                            const_cast<char* const*>(INSTALLER_ENVIRONMENT));
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  writeEnd.reset();
  if (spawned != 0) return PlatformError{std::string(INSTALLER) + ": " + errnoText(spawned)};

  std::string errors;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    errors.append(buffer, static_cast<std::size_t>(n));
  }
  int waitStatus = 0;
  while (::waitpid(pid, &waitStatus, 0) < 0) {
    if (errno != EINTR) return PlatformError{std::string(INSTALLER) + ": " + errnoText(errno)};
  }

  while (!errors.empty() && errors.back() == '\n') errors.pop_back();
  std::string lastLine = errors.substr(errors.rfind('\n') + 1);
  return InstallerRun{WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1, std::move(lastLine)};
}

}  // namespace tuvel::speech::pocketsphinx
