#pragma once
// loadEngine - loads the speech engine plug-in that sits beside the program.

#include <memory>
#include <string>

#include "engine/speech_engine.h"

namespace tuvel::speech {

/// The plug-in's file name, in the program's own directory.
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

/// The engine, or why it could not be loaded (the loader's own text: the
/// plug-in, the audio module or one of the engine's libraries is missing).
Expected<LoadedEngine, Unavailable> loadEngine();

}  // namespace tuvel::speech
