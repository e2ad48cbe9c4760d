// SPDX-License-Identifier: Apache-2.0
#include "transcribe.h"

#include <thread>

#include "model_assets.h"
#include "resolve_locale.h"
#include "trim.h"

namespace tuvel::speech {
namespace {

// Joins the pieces exactly as delivered; the engine puts in any spacing.
Expected<std::string> collect(ResultStream& results, std::stop_token stop) {
  std::string transcript;
  for (;;) {
    Expected<std::optional<std::string>> piece = results.next(stop);
    if (!piece) return std::move(piece).error();
    if (!piece.value()) return transcript;
    transcript += *piece.value();
  }
}

}  // namespace

Expected<std::string, Failure> transcribe(SpeechEngine& engine, const std::string& path,
                                          const Locale& requested) {
  Expected<Locale, HelperError> locale = resolveLocale(engine, requested);
  if (!locale) return Failure{std::move(locale).error()};

  std::unique_ptr<Transcriber> transcriber = engine.makeTranscriber(locale.value());
  if (Expected<void> installed = installModelAssets(engine, *transcriber); !installed)
    return Failure{std::move(installed).error()};

  Transcriber* const modules[] = {transcriber.get()};
  std::unique_ptr<Analyzer> analyzer = engine.makeAnalyzer(modules);

  // Started before any audio is read. Leaving this scope early cancels and
  // joins it, dropping what it gathered.
  std::optional<Expected<std::string>> collected;
  std::jthread collector([&](std::stop_token stop) {
    collected.emplace(collect(transcriber->results(), stop));
  });

  Expected<std::unique_ptr<AudioFile>> audio = engine.openAudioFile(path);
  if (!audio) return Failure{std::move(audio).error()};

  Expected<std::optional<double>> lastSample = analyzer->analyzeSequence(*audio.value());
  if (!lastSample) return Failure{std::move(lastSample).error()};

  if (std::optional<double> through = lastSample.value()) {
    if (Expected<void> finished = analyzer->finalizeAndFinish(*through); !finished)
      return Failure{std::move(finished).error()};
  } else {
    analyzer->cancelAndFinishNow();
  }

  collector.join();
  if (!*collected) return Failure{std::move(*collected).error()};
  return std::string(trimTranscript(collected->value()));
}

}  // namespace tuvel::speech
