// SPDX-License-Identifier: Apache-2.0
// A plug-in that offers only de-DE and fr-CA, so the real program can be run
// on a system without an en-US model.

#include "tests/fake_engine.h"

extern "C" __attribute__((visibility("default"))) tuvel::speech::SpeechEngine*
tuvel_speech_engine_v3(tuvel::speech::Unavailable&) {
  tuvel::speech::testing::Script script;
  script.supported = {"de-DE", "fr-CA"};
  script.pieces = {"bonjour"};
  return new tuvel::speech::testing::FakeEngine(script);
}
