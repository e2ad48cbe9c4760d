// SPDX-License-Identifier: Apache-2.0
#include "engine/pocketsphinx/analyzer.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

namespace tuvel::speech::pocketsphinx {
namespace {

// As Debian's own continuous decoder reads: the block size shapes where the
// voice-activity state flips.
constexpr std::size_t BLOCK_SAMPLES = 2048;
// The name of the decoder's one search, over the trigram model.
constexpr const char* SEARCH = "trigram";

std::mutex logMutex;
std::string lastLoggedError;

// NOLINTNEXTLINE(cert-dcl50-cpp): the signature of sphinxbase's error callback
void keepErrors(void*, err_lvl_t level, const char* format, ...) {
  if (level != ERR_ERROR && level != ERR_FATAL) return;
  char text[512];
  va_list args;
  va_start(args, format);
  (void)std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::string message = text;
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  std::lock_guard lock(logMutex);
  lastLoggedError = std::move(message);
}

std::string takeLoggedError(const char* otherwise) {
  std::lock_guard lock(logMutex);
  std::string message = lastLoggedError.empty() ? otherwise : std::move(lastLoggedError);
  lastLoggedError.clear();
  return message;
}

}  // namespace

void silenceDecoderLog() {
  err_set_logfp(nullptr);
  err_set_callback(keepErrors, nullptr);
}

PocketSphinxAnalyzer::PocketSphinxAnalyzer(PocketSphinxTranscriber& transcriber,
                                           std::shared_ptr<LoadGate> gate)
    : transcriber_(transcriber), gate_(std::move(gate)), loader_([this] {
        if (!gate_->wait()) return;
        if (Expected<void> started = start(); !started) loadFailure_ = std::move(started).error();
      }) {}

PocketSphinxAnalyzer::~PocketSphinxAnalyzer() {
  // Without audio the load never starts; once started it cannot be
  // interrupted and is waited for.
  gate_->cancel();
  if (loader_.joinable()) loader_.join();
  if (decoder_ != nullptr) ps_free(decoder_);
}

Expected<void> PocketSphinxAnalyzer::start() {
  const Model* model = transcriber_.model();
  if (model == nullptr) return PlatformError{"no speech model for " + transcriber_.locale().identifier()};
  const auto loadFailure = [&] {
    return PlatformError{"cannot load the speech model for " + std::string(model->locale) + ": " +
                         takeLoggedError("unknown error")};
  };

  // The decoder ends the process on some damaged files, so each is checked
  // before it is read. The language model, the largest and read last, is
  // checked while the decoder loads the rest.
  if (Expected<void> intact = repairModel(*model, ModelPart::allButLanguageModel); !intact)
    return std::move(intact).error();
  std::optional<ModelProblem> languageModelDamage;
  std::jthread languageModelCheck(
      [&] { languageModelDamage = modelDamage(*model, ModelPart::languageModel); });

  const std::string acoustic = model->acoustic().string();
  const std::string dictionary = model->dictionary().string();
  cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", acoustic.c_str(), "-dict",
                                 dictionary.c_str(), static_cast<const char*>(nullptr));
  if (config == nullptr)
    return PlatformError{takeLoggedError("the speech decoder rejected its configuration")};
  decoder_ = ps_init(config);
  cmd_ln_free_r(config);
  if (decoder_ == nullptr) return loadFailure();

  languageModelCheck.join();
  if (languageModelDamage) {
    if (Expected<void> intact = repairModel(*model); !intact) return std::move(intact).error();
  }
  const std::string languageModel = model->languageModel().string();
  if (ps_set_lm_file(decoder_, SEARCH, languageModel.c_str()) < 0 ||
      ps_set_search(decoder_, SEARCH) < 0)
    return loadFailure();
  if (ps_start_utt(decoder_) < 0) return PlatformError{takeLoggedError("cannot start decoding")};
  return {};
}

Expected<std::optional<double>> PocketSphinxAnalyzer::analyzeSequence(AudioFile& audio) {
  gate_->open();  // audio opened elsewhere than through the engine is readable too
  if (loader_.joinable()) loader_.join();
  if (loadFailure_) return *loadFailure_;

  std::vector<std::int16_t> block(BLOCK_SAMPLES);
  std::size_t total = 0;
  for (;;) {
    Expected<std::size_t> got = audio.read(block);
    if (!got) return std::move(got).error();
    if (got.value() == 0) break;
    total += got.value();
    if (ps_process_raw(decoder_, block.data(), got.value(), FALSE, FALSE) < 0)
      return PlatformError{takeLoggedError("speech decoding failed")};
    const bool inSpeech = ps_get_in_speech(decoder_) != 0;
    if (inSpeech) inUtterance_ = true;
    if (!inSpeech && inUtterance_) {
      // The speaker paused: this utterance is final.
      if (ps_end_utt(decoder_) < 0) return PlatformError{takeLoggedError("speech decoding failed")};
      deliverHypothesis();
      if (ps_start_utt(decoder_) < 0) return PlatformError{takeLoggedError("speech decoding failed")};
      inUtterance_ = false;
    }
  }
  if (total == 0) return std::optional<double>{};
  return std::optional<double>{static_cast<double>(total) / AudioFile::SAMPLE_RATE};
}

Expected<void> PocketSphinxAnalyzer::finalizeAndFinish(double) {
  // All audio up to the last sample has been fed; only the open utterance is
  // left. Without any analysis there is no model to wait for.
  gate_->cancel();
  if (loader_.joinable()) loader_.join();
  if (decoder_ != nullptr) {
    if (ps_end_utt(decoder_) < 0) {
      PlatformError failure{takeLoggedError("speech decoding failed")};
      transcriber_.channel().close(failure);
      return failure;
    }
    if (inUtterance_) deliverHypothesis();
    inUtterance_ = false;
  }
  transcriber_.channel().close();
  return {};
}

void PocketSphinxAnalyzer::cancelAndFinishNow() { transcriber_.channel().close(); }

void PocketSphinxAnalyzer::deliverHypothesis() {
  const char* hypothesis = ps_get_hyp(decoder_, nullptr);
  if (hypothesis == nullptr || *hypothesis == '\0') {
    transcriber_.channel().push("");
    return;
  }
  // Each piece brings the space that separates it from the text before it.
  transcriber_.channel().push((spoken_ ? " " : "") + std::string(hypothesis));
  spoken_ = true;
}

}  // namespace tuvel::speech::pocketsphinx
