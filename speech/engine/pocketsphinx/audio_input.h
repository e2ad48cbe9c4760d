// SPDX-License-Identifier: Apache-2.0
#pragma once
// AudioInput - the FFmpeg audio module, loaded beside the plug-in, and audio
// files read through it. A recording of up to MAX_PREREAD_SECONDS is read
// whole when it is opened and the module unloaded, so that FFmpeg's libraries
// are gone before the recognizer is at work; a longer one, as its container
// tells, is decoded as it is recognised, never held whole.

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/pocketsphinx/audio_file.h"
#include "engine/speech_engine.h"

namespace tuvel::speech::pocketsphinx {

inline constexpr const char* AUDIO_MODULE = "tuvel-speech-ffmpeg.so";
inline constexpr int MAX_PREREAD_SECONDS = 600;

class AudioInput {
 public:
  /// Loads the module; why it could not, when it cannot.
  static Expected<std::unique_ptr<AudioInput>, Unavailable> load();

  AudioInput(const AudioInput&) = delete;
  AudioInput& operator=(const AudioInput&) = delete;
  ~AudioInput();

  /// Opens the file at `path`; `readable` is called as soon as it is known
  /// to be audio, before it is read.
  Expected<std::unique_ptr<AudioFile>> open(const std::string& path,
                                            const std::function<void()>& readable);

 private:
  friend class PrereadAudio;
  AudioInput(std::string module, void* library, AudioEntry entry,
             std::vector<std::span<std::byte>> segments);
  Expected<void> reload();
  void unload();

  std::string module_;
  void* library_;
  AudioEntry entry_;
  std::vector<std::span<std::byte>> segments_;  // read-only, of the libraries it brought in
};

}  // namespace tuvel::speech::pocketsphinx
