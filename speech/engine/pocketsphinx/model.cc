// SPDX-License-Identifier: Apache-2.0
#include "engine/pocketsphinx/model.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/pocketsphinx/installer.h"
#include "engine/pocketsphinx/package_checksums.h"
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

std::optional<ModelProblem> fileProblem(const ModelFile& file) {
  const std::string path = file.path.string();
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return ModelProblem{path + ": " + errnoText(errno), false};
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) return ModelProblem{path + ": " + errnoText(errno), false};
  if (!S_ISREG(status.st_mode) || status.st_size == 0) return ModelProblem{path + ": not a model file", false};
  if (file.magic.empty()) return std::nullopt;
  std::string head(file.magic.size(), '\0');
  if (::pread(fd.get(), head.data(), head.size(), 0) != static_cast<ssize_t>(head.size()) ||
      head != file.magic)
    return ModelProblem{path + ": not a model file", false};
  return std::nullopt;
}

// Installs the model when `check` finds a problem, holding our lock from the
// check before the installation to the check after it.
Expected<void> reinstall(const Model& model,
                         const std::function<std::optional<ModelProblem>()>& check) {
  const std::string command = std::string("apt-get install --reinstall ") + model.package;
  const std::string what = std::string("speech model for ") + model.locale;
  std::optional<ModelProblem> problem = check();
  if (!problem) return {};

  if (::geteuid() != 0)
    return PlatformError{what + (problem->damaged ? " is damaged (" : " is not installed (") +
                         problem->what + "); install it with: sudo " + command};

  // Runs started together wait here; the first installs, the others find the
  // model in place.
  Expected<InstallLock> lock = InstallLock::acquire();
  if (!lock) return PlatformError{"installing the " + what + " failed: " + lock.error().description};
  if (!check()) return {};

  Expected<InstallerRun> ran = reinstallPackage(model.package);
  if (!ran) return PlatformError{"installing the " + what + " failed: " + ran.error().description};
  if (ran.value().status != 0)
    return PlatformError{"installing the " + what + " failed: " +
                         (ran.value().lastError.empty() ? "apt-get failed" : ran.value().lastError) +
                         "; install it with: sudo " + command};

  if (std::optional<ModelProblem> still = modelDamage(model))
    return PlatformError{what + " is still unusable after installing " + model.package + " (" +
                         still->what + ")"};
  return {};
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

std::optional<ModelProblem> modelProblem(const Model& model) {
  for (const ModelFile& file : filesOf(model))
    if (std::optional<ModelProblem> problem = fileProblem(file)) return problem;
  return std::nullopt;
}

std::optional<ModelProblem> modelDamage(const Model& model, ModelPart part) {
  if (std::optional<ModelProblem> problem = modelProblem(model)) return problem;
  Expected<std::vector<RecordedFile>> recorded = recordedFiles(model.package, model.directory);
  if (!recorded) return ModelProblem{recorded.error().description, false};
  for (const ModelFile& file : filesOf(model)) {
    const std::string path = file.path.string();
    if (std::none_of(recorded.value().begin(), recorded.value().end(),
                     [&](const RecordedFile& listed) { return listed.path == path; }))
      return ModelProblem{path + ": not one of the files " + model.package + " installed", true};
  }
  const std::string languageModel = model.languageModel().string();
  for (const RecordedFile& listed : recorded.value()) {
    if ((part == ModelPart::languageModel && listed.path != languageModel) ||
        (part == ModelPart::allButLanguageModel && listed.path == languageModel))
      continue;
    Expected<std::string> md5 = fileMd5(listed.path);
    if (!md5) return ModelProblem{md5.error().description, false};
    if (md5.value() != listed.md5)
      return ModelProblem{listed.path + ": does not match the checksum its package recorded", true};
  }
  return std::nullopt;
}

Expected<void> installModel(const Model& model) {
  return reinstall(model, [&] { return modelProblem(model); });
}

Expected<void> repairModel(const Model& model, ModelPart part) {
  return reinstall(model, [&] { return modelDamage(model, part); });
}

}  // namespace tuvel::speech::pocketsphinx
