// SPDX-License-Identifier: Apache-2.0
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

/// ModelProblem - why a model cannot be used as installed.
struct ModelProblem {
  std::string what;  ///< "{path}: {reason}"
  bool damaged;      ///< a file is there, but not as its package installed it
};

/// Whether the files the decoder reads are there and of the right kind; quick
/// enough to be asked before the audio is opened.
std::optional<ModelProblem> modelProblem(const Model& model);

/// The files a check of a model's content covers. The decoder reads the
/// language model last, so it can be checked while the rest loads.
enum class ModelPart { whole, languageModel, allButLanguageModel };

/// modelProblem, then every file of `part` that the model's package installed
/// in its directory against the checksum the package manager recorded.
std::optional<ModelProblem> modelDamage(const Model& model, ModelPart part = ModelPart::whole);

/// Installs `model` with Debian's package manager when modelProblem finds
/// something missing and the process may install; otherwise says what to run.
Expected<void> installModel(const Model& model);

/// The same when modelDamage finds damage in `part`. Called before the
/// decoder reads the model, which can end the process on a damaged file.
Expected<void> repairModel(const Model& model, ModelPart part = ModelPart::whole);

}  // namespace tuvel::speech::pocketsphinx
