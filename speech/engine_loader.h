// SPDX-License-Identifier: Apache-2.0
#pragma once
// loadEngine - loads the speech engine plug-in from the program's module
// folder.

#include <memory>
#include <string>

#include "engine/speech_engine.h"

namespace tuvel::speech {

/// The plug-in's file name, in the module folder.
inline constexpr const char* ENGINE_PLUGIN = "tuvel-speech-pocketsphinx.so";

/// LoadedEngine - the engine and the plug-in that holds its code; the engine
/// goes first.
class LoadedEngine {
 public:
  LoadedEngine(void* library, SpeechEngine* engine);
  LoadedEngine(LoadedEngine&& other) noexcept;
  LoadedEngine& operator=(LoadedEngine&&) = delete;
  ~LoadedEngine();

  SpeechEngine& engine() { return *engine_; }

 private:
  void* library_;
  std::unique_ptr<SpeechEngine> engine_;
};

/// The folder of the program's modules, found from /proc/self/exe: the
/// program's own folder when the plug-in sits there (a build tree), otherwise
/// TUVEL_PLUGIN_RELDIR from it (an installation, wherever its prefix).
Expected<std::string, Unavailable> moduleFolder();

/// The engine from the plug-in in `folder`, or why it could not be loaded (the
/// loader's own text: the plug-in, the audio module or one of the engine's
/// libraries is missing).
Expected<LoadedEngine, Unavailable> loadEngine(const std::string& folder);

}  // namespace tuvel::speech
