// SPDX-License-Identifier: Apache-2.0
#pragma once
// resolveLocale - chooses the supported locale whose model transcribes a request.

#include "engine/speech_engine.h"
#include "helper_error.h"

namespace tuvel::speech {

/// The supported locale that equals `requested` in canonical BCP-47 form, else
/// the first of its language in the engine's order, else en-US; otherwise a
/// HelperError with code 3. The substitution is silent.
Expected<Locale, HelperError> resolveLocale(SpeechEngine& engine, const Locale& requested);

}  // namespace tuvel::speech
