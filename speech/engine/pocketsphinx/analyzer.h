// SPDX-License-Identifier: Apache-2.0
#pragma once
// PocketSphinx transcriber and analyzer: utterances cut by the decoder's
// voice-activity state, one result piece per utterance.

#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "engine/pocketsphinx/load_gate.h"
#include "engine/pocketsphinx/model.h"
#include "engine/result_channel.h"
#include "engine/speech_engine.h"

struct ps_decoder_s;

namespace tuvel::speech::pocketsphinx {

class PocketSphinxTranscriber final : public Transcriber {
 public:
  /// `model` is null when the engine has none for `locale`.
  PocketSphinxTranscriber(Locale locale, const Model* model)
      : locale_(std::move(locale)), model_(model) {}

  const Locale& locale() const override { return locale_; }
  ResultStream& results() override { return channel_; }

  const Model* model() const { return model_; }
  ResultChannel& channel() { return channel_; }

 private:
  Locale locale_;
  const Model* model_;
  ResultChannel channel_;
};

/// Loads the model on a thread of its own as soon as `gate` opens, which the
/// engine does once the audio is known to be readable, so that the load
/// overlaps reading the audio; the analysis waits for it.
class PocketSphinxAnalyzer final : public Analyzer {
 public:
  PocketSphinxAnalyzer(PocketSphinxTranscriber& transcriber, std::shared_ptr<LoadGate> gate);
  ~PocketSphinxAnalyzer() override;

  Expected<std::optional<double>> analyzeSequence(AudioFile& audio) override;
  Expected<void> finalizeAndFinish(double through) override;
  void cancelAndFinishNow() override;

 private:
  Expected<void> start();
  void deliverHypothesis();

  PocketSphinxTranscriber& transcriber_;
  ps_decoder_s* decoder_ = nullptr;
  bool inUtterance_ = false;  // speech heard since the utterance began
  bool spoken_ = false;       // some text delivered already
  std::optional<PlatformError> loadFailure_;
  std::shared_ptr<LoadGate> gate_;
  std::thread loader_;  // last: it uses the members above
};

/// Sends the decoder's log nowhere, keeping its last error for descriptions.
void silenceDecoderLog();

}  // namespace tuvel::speech::pocketsphinx
