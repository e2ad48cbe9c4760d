// SPDX-License-Identifier: Apache-2.0
// transcribe against an engine double: order of operations, joining and
// trimming, and every way out.

#include <gtest/gtest.h>

#include "tests/fake_engine.h"
#include "transcribe.h"

namespace tuvel::speech {
namespace {

using Calls = std::vector<std::string>;

struct Transcription {
  Expected<std::string, Failure> transcript;
  Calls calls;
};

Transcription run(testing::Script script, const char* requested = "en-US") {
  testing::FakeEngine engine(std::move(script));
  Expected<std::string, Failure> transcript = transcribe(engine, "/a.wav", Locale(requested));
  return {std::move(transcript), engine.calls()};
}

std::string description(const Transcription& run) {
  return std::get<PlatformError>(run.transcript.error()).description;
}

TEST(Transcribe, JoinsPiecesAsDeliveredAndTrimsTheEnds) {
  struct Case {
    std::vector<std::string> pieces;
    std::vector<std::string> finalPieces;
    const char* transcript;
  };
  const Case cases[] = {
      {{"go forward", " ten meters"}, {}, "go forward ten meters"},
      {{"go", "forward"}, {}, "goforward"},
      {{"", " go", ""}, {" forward\n"}, "go forward"},
      {{"\n first line\n", "second line \n"}, {"\u2028"}, "first line\nsecond line"},
      {{}, {}, ""},
      {{" ", "\n"}, {""}, ""},
  };
  for (const Case& c : cases) {
    testing::Script script;
    script.pieces = c.pieces;
    script.finalPieces = c.finalPieces;
    Transcription result = run(script);
    ASSERT_TRUE(result.transcript);
    EXPECT_EQ(result.transcript.value(), c.transcript);
  }
}

TEST(Transcribe, OperationsInOrder) {
  testing::Script script;
  script.supported = {"de-DE", "en-US"};
  script.lastSample = 2.5;
  EXPECT_EQ(run(script, "de_AT").calls,
            (Calls{"supported", "transcriber de-DE", "request 1", "analyzer 1", "open /a.wav",
                   "analyse", "finish 2.500000"}));

  script.modelMissing = true;
  EXPECT_EQ(run(script, "de_AT").calls,
            (Calls{"supported", "transcriber de-DE", "request 1", "install", "analyzer 1",
                   "open /a.wav", "analyse", "finish 2.500000"}));
}

TEST(Transcribe, NoLastSampleAbandonsAndKeepsWhatCame) {
  testing::Script script;
  script.lastSample = std::nullopt;
  script.pieces = {" partial ", "text "};
  Transcription result = run(script);
  ASSERT_TRUE(result.transcript);
  EXPECT_EQ(result.transcript.value(), "partial text");
  EXPECT_EQ(result.calls.back(), "abandon");
}

TEST(Transcribe, NoModelEndsBeforeTheTranscriber) {
  testing::Script script;
  script.supported = {"fr-CA"};
  Transcription result = run(script, "en_GB");
  ASSERT_FALSE(result.transcript);
  const HelperError& error = std::get<HelperError>(result.transcript.error());
  EXPECT_EQ(error.message, "no speech model for en-GB (or en-US)");
  EXPECT_EQ(error.code, 3);
  EXPECT_EQ(result.calls, Calls{"supported"});
}

TEST(Transcribe, ModelFailuresEndBeforeTheAudioIsOpened) {
  testing::Script install;
  install.modelMissing = true;
  install.installFails = "no rights to install";
  Transcription result = run(install);
  ASSERT_FALSE(result.transcript);
  EXPECT_EQ(description(result), "no rights to install");
  EXPECT_EQ(result.calls, (Calls{"supported", "transcriber en-US", "request 1", "install"}));

  testing::Script request;
  request.requestFails = "inventory unreachable";
  result = run(request);
  ASSERT_FALSE(result.transcript);
  EXPECT_EQ(description(result), "inventory unreachable");
  EXPECT_EQ(result.calls, (Calls{"supported", "transcriber en-US", "request 1"}));
}

// The collector is waiting on the stream in each of these; the call must
// cancel it rather than wait for a stream nobody ends.
TEST(Transcribe, LaterFailuresCancelTheCollector) {
  struct Case {
    testing::Script script;
    const char* description;
    const char* lastCall;
  };
  testing::Script open, analyse, finish, stream;
  open.openFails = "Is a directory";
  analyse.pieces = {"dropped"};
  analyse.analyseFails = "Invalid data found when processing input";
  finish.finishFails = "decoder gave up";
  stream.streamFails = "stream broke";
  stream.pieces = {"dropped"};
  const Case cases[] = {
      {open, "Is a directory", "open /a.wav"},
      {analyse, "Invalid data found when processing input", "analyse"},
      {finish, "decoder gave up", "finish 1.000000"},
      {stream, "stream broke", "finish 1.000000"},
  };
  for (const Case& c : cases) {
    Transcription result = run(c.script);
    ASSERT_FALSE(result.transcript) << c.description;
    EXPECT_EQ(description(result), c.description);
    EXPECT_EQ(result.calls.back(), c.lastCall);
  }
}

}  // namespace
}  // namespace tuvel::speech
