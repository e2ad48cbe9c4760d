// SPDX-License-Identifier: Apache-2.0
#pragma once
// transcribe - runs the speech engine over one audio file.

#include <string>

#include "engine/speech_engine.h"
#include "helper_error.h"

namespace tuvel::speech {

/// The transcript of the audio file at `path` (absolute), in the supported
/// locale chosen for `requested`, trimmed at both ends; or the first failure met.
Expected<std::string, Failure> transcribe(SpeechEngine& engine, const std::string& path,
                                          const Locale& requested);

}  // namespace tuvel::speech
