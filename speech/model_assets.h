// SPDX-License-Identifier: Apache-2.0
#pragma once
// installModelAssets - makes sure a transcriber's model is installed.

#include "engine/speech_engine.h"

namespace tuvel::speech {

/// Asks the engine what `transcriber` still lacks and installs it; does
/// nothing when the model is present.
Expected<void> installModelAssets(SpeechEngine& engine, Transcriber& transcriber);

}  // namespace tuvel::speech
