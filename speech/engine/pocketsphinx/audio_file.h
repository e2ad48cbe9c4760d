#pragma once
// The FFmpeg audio module: opens an audio file of any format FFmpeg reads, as
// 16 kHz mono 16-bit samples. Built as a module of its own so that the engine
// can unload FFmpeg's many libraries once a recording has been read.

#include <memory>
#include <string>

#include "engine/speech_engine.h"

namespace tuvel::speech::pocketsphinx {

/// Fails with FFmpeg's description ("Is a directory", "Invalid data found
/// when processing input", ...).
Expected<std::unique_ptr<AudioFile>> openAudioFile(const std::string& path);

/// The module's exported symbol: openAudioFile.
#define TUVEL_SPEECH_AUDIO_ENTRY "tuvel_speech_open_audio_v1"
using AudioEntry = Expected<std::unique_ptr<AudioFile>> (*)(const std::string& path);

}  // namespace tuvel::speech::pocketsphinx
