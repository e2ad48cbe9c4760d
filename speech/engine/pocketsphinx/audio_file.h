// SPDX-License-Identifier: Apache-2.0
#pragma once
// The FFmpeg audio module: opens an audio file of any format FFmpeg reads, as
// 16 kHz mono 16-bit samples. Built as a module of its own so that the engine
// can unload FFmpeg's many libraries once a recording has been read.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "engine/speech_engine.h"

namespace tuvel::speech::pocketsphinx {

/// DecodedAudio - an audio file opened by the module: its format probed, its
/// decoder ready.
class DecodedAudio : public AudioFile {
 public:
  /// How many samples the file holds as its container tells, before decoding.
  virtual std::optional<std::size_t> expectedSamples() const = 0;
};

/// Fails with FFmpeg's description ("Is a directory", "Invalid data found
/// when processing input", ...).
Expected<std::unique_ptr<DecodedAudio>> openAudioFile(const std::string& path);

/// The module's exported symbol: openAudioFile.
#define TUVEL_SPEECH_AUDIO_ENTRY "tuvel_speech_open_audio_v2"
using AudioEntry = Expected<std::unique_ptr<DecodedAudio>> (*)(const std::string& path);

}  // namespace tuvel::speech::pocketsphinx
