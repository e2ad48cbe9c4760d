// SPDX-License-Identifier: Apache-2.0
#pragma once
// HelperError - a failure of tuvel-speech that carries its own exit status.

#include <cstdint>
#include <string>
#include <variant>

#include "engine/expected.h"

namespace tuvel::speech {

struct HelperError {
  std::string message;
  std::int32_t code;
};

/// Failure - what a transcription can end with: a HelperError, or an engine
/// failure reported with status 1.
using Failure = std::variant<HelperError, PlatformError>;

}  // namespace tuvel::speech
