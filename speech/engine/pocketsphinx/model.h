#pragma once
// Model - a PocketSphinx model the engine knows how to install, and its files.

#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "engine/expected.h"

namespace tuvel::speech::pocketsphinx {

struct Model {
  const char* locale;     ///< BCP-47, as listed among the supported locales
  const char* package;    ///< the Debian package that installs it
  const char* directory;  ///< where that package puts it
  const char* name;       ///< file-name stem inside the directory

  std::filesystem::path acoustic() const;       ///< acoustic model directory
  std::filesystem::path languageModel() const;  ///< binary trigram model
  std::filesystem::path dictionary() const;     ///< pronunciation dictionary
};

/// The models the engine can provide, in the order they are offered.
std::span<const Model> knownModels();

/// Why `model` cannot be used as installed (a file missing, empty or of the
/// wrong kind), or none. Checked before the decoder reads it, since the
/// decoder ends the process on some damaged files.
std::optional<std::string> modelProblem(const Model& model);

/// Installs `model` with Debian's package manager when the process may, and
/// checks it again; otherwise says what to run.
Expected<void> installModel(const Model& model);

}  // namespace tuvel::speech::pocketsphinx
