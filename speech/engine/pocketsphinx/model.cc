#include "engine/pocketsphinx/model.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/pocketsphinx/installer.h"
#include "engine/pocketsphinx/unique_fd.h"

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

  // Runs started together wait here; the first installs, the others find the
  // model in place.
  Expected<InstallLock> lock = InstallLock::acquire();
  if (!lock) return PlatformError{"installing the " + what + " failed: " + lock.error().description};
  if (!modelProblem(model)) return {};

  Expected<InstallerRun> ran = reinstallPackage(model.package);
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
