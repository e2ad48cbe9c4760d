#include "engine/pocketsphinx/model.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <system_error>
#include <vector>

namespace tuvel::speech::pocketsphinx {
namespace {

constexpr Model MODELS[] = {
    {"en-US", "pocketsphinx-en-us", "/usr/share/pocketsphinx/model/en-us", "en-us"},
};

struct ModelFile {
  std::filesystem::path path;
  std::string_view magic;  // leading bytes, when the format has them
};

std::vector<ModelFile> filesOf(const Model& model) {
  const std::filesystem::path acoustic = model.acoustic();
  return {
      {acoustic / "feat.params", ""},
      {acoustic / "mdef", "BMDF"},
      {acoustic / "means", "s3\n"},
      {acoustic / "variances", "s3\n"},
      {acoustic / "transition_matrices", "s3\n"},
      {acoustic / "sendump", ""},
      {acoustic / "noisedict", ""},
      {model.languageModel(), "Trie Language Model"},
      {model.dictionary(), ""},
  };
}

std::string errnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

std::optional<std::string> fileProblem(const ModelFile& file) {
  const std::string path = file.path.string();
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return path + ": " + errnoText(errno);
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) return path + ": " + errnoText(errno);
  if (!S_ISREG(status.st_mode) || status.st_size == 0) return path + ": not a model file";
  if (file.magic.empty()) return std::nullopt;
  std::string head(file.magic.size(), '\0');
  if (::pread(fd.get(), head.data(), head.size(), 0) != static_cast<ssize_t>(head.size()) ||
      head != file.magic)
    return path + ": not a model file";
  return std::nullopt;
}

struct Command {
  int status;             // exit status, or -1 when it did not run to its end
  std::string lastError;  // the last line it wrote on standard error
};

// The installer, never looked up in the caller's PATH, and the whole of its
// environment: nothing of the caller's reaches a program that may run as root.
constexpr const char* INSTALLER = "/usr/bin/apt-get";
constexpr const char* INSTALLER_ENVIRONMENT[] = {
    "PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LANG=C", "DEBIAN_FRONTEND=noninteractive", nullptr};

// Runs `program` with `argv`, no input, its output dropped and its errors collected.
Expected<Command> runQuietly(const char* program, std::vector<std::string> argv) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return PlatformError{errnoText(errno)};
  UniqueFd readEnd(pipeFds[0]);
  UniqueFd writeEnd(pipeFds[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDERR_FILENO);

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (std::string& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);

  // The program ignores SIGPIPE and SIGXFSZ; the installer gets them back.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t restored;
  sigemptyset(&restored);
  sigaddset(&restored, SIGPIPE);
  sigaddset(&restored, SIGXFSZ);
  posix_spawnattr_setsigdefault(&attributes, &restored);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  pid_t pid = 0;
  // posix_spawn's interface takes the environment as non-const strings it does not change.
  int spawned = posix_spawn(&pid, program, &actions, &attributes, args.data(),
                            const_cast<char* const*>(INSTALLER_ENVIRONMENT));
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  writeEnd.reset();
  if (spawned != 0) return PlatformError{std::string(program) + ": " + errnoText(spawned)};

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
    if (errno != EINTR) return PlatformError{std::string(program) + ": " + errnoText(errno)};
  }

  while (!errors.empty() && errors.back() == '\n') errors.pop_back();
  std::string lastLine = errors.substr(errors.rfind('\n') + 1);
  return Command{WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1, std::move(lastLine)};
}

}  // namespace

std::filesystem::path Model::acoustic() const { return std::filesystem::path(directory) / name; }
std::filesystem::path Model::languageModel() const {
  return std::filesystem::path(directory) / (std::string(name) + ".lm.bin");
}
std::filesystem::path Model::dictionary() const {
  return std::filesystem::path(directory) / ("cmudict-" + std::string(name) + ".dict");
}

std::span<const Model> knownModels() { return MODELS; }

std::optional<std::string> modelProblem(const Model& model) {
  for (const ModelFile& file : filesOf(model))
    if (std::optional<std::string> problem = fileProblem(file)) return problem;
  return std::nullopt;
}

Expected<void> installModel(const Model& model) {
  const std::string command = std::string("apt-get install --reinstall ") + model.package;
  const std::string what = std::string("speech model for ") + model.locale;
  std::optional<std::string> problem = modelProblem(model);
  if (!problem) return {};

  if (::geteuid() != 0)
    return PlatformError{what + " is not installed (" + *problem + "); install it with: sudo " + command};

  Expected<Command> ran =
      runQuietly(INSTALLER, {"apt-get", "install", "-y", "-q", "--reinstall", model.package});
  if (!ran) return PlatformError{"installing the " + what + " failed: " + ran.error().description};
  if (ran.value().status != 0)
    return PlatformError{"installing the " + what + " failed: " +
                         (ran.value().lastError.empty() ? "apt-get failed" : ran.value().lastError) +
                         "; install it with: sudo " + command};

  if (std::optional<std::string> still = modelProblem(model))
    return PlatformError{what + " is still unusable after installing " + model.package + " (" +
                         *still + ")"};
  return {};
}

}  // namespace tuvel::speech::pocketsphinx
