// SPDX-License-Identifier: Apache-2.0
#pragma once
// FakeEngine - a scripted speech engine that records what was asked of it.

#include <optional>
#include <string>
#include <vector>

#include "engine/result_channel.h"
#include "engine/speech_engine.h"

namespace tuvel::speech::testing {

struct Script {
  std::vector<std::string> supported = {"en-US"};
  bool modelMissing = false;
  std::optional<std::string> requestFails;  // the model request
  std::optional<std::string> installFails;  // the download
  std::optional<std::string> openFails;     // the audio file
  std::vector<std::string> pieces;          // delivered while analysing
  std::vector<std::string> finalPieces;     // delivered when finishing
  std::optional<double> lastSample = 1.0;
  std::optional<std::string> analyseFails;
  std::optional<std::string> finishFails;
  std::optional<std::string> streamFails;   // the stream ends with this failure
};

class FakeEngine final : public SpeechEngine {
 public:
  explicit FakeEngine(Script script) : script_(std::move(script)) {}

  /// Every operation asked for, in order ("transcriber en-US", "open /a.wav", ...).
  const std::vector<std::string>& calls() const { return calls_; }
  const Script& script() const { return script_; }
  void record(std::string call) { calls_.push_back(std::move(call)); }

  std::vector<Locale> supportedLocales() override;
  std::unique_ptr<Transcriber> makeTranscriber(const Locale& locale) override;
  Expected<std::unique_ptr<InstallationRequest>> assetInstallationRequest(
      std::span<Transcriber* const> modules) override;
  std::unique_ptr<Analyzer> makeAnalyzer(std::span<Transcriber* const> modules) override;
  Expected<std::unique_ptr<AudioFile>> openAudioFile(const std::string& path) override;

 private:
  Script script_;
  std::vector<std::string> calls_;
};

}  // namespace tuvel::speech::testing
