#pragma once
// openAudioFile - opens an audio file of any format FFmpeg reads, as 16 kHz
// mono 16-bit samples.

#include <memory>
#include <string>

#include "engine/speech_engine.h"

namespace tuvel::speech::pocketsphinx {

/// Fails with FFmpeg's description ("Is a directory", "Invalid data found
/// when processing input", ...).
Expected<std::unique_ptr<AudioFile>> openAudioFile(const std::string& path);

}  // namespace tuvel::speech::pocketsphinx
