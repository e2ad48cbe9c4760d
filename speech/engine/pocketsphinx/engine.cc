// SPDX-License-Identifier: Apache-2.0
// The PocketSphinx engine plug-in: PocketSphinx for recognition, the FFmpeg
// audio module for audio, Debian's package manager for models.

#include <algorithm>

#include "engine/pocketsphinx/analyzer.h"
#include "engine/pocketsphinx/audio_input.h"
#include "engine/pocketsphinx/model.h"
#include "engine/speech_engine.h"

namespace tuvel::speech::pocketsphinx {
namespace {

class ModelInstallation final : public InstallationRequest {
 public:
  explicit ModelInstallation(const Model& model) : model_(model) {}
  Expected<void> downloadAndInstall() override { return installModel(model_); }

 private:
  const Model& model_;
};

class PocketSphinxEngine final : public SpeechEngine {
 public:
  explicit PocketSphinxEngine(std::unique_ptr<AudioInput> audio) : audio_(std::move(audio)) {}

  std::vector<Locale> supportedLocales() override {
    std::vector<Locale> locales;
    for (const Model& model : knownModels()) locales.emplace_back(model.locale);
    return locales;
  }

  std::unique_ptr<Transcriber> makeTranscriber(const Locale& locale) override {
    auto models = knownModels();
    auto found = std::find_if(models.begin(), models.end(), [&](const Model& model) {
      return locale.identifier() == model.locale;
    });
    return std::make_unique<PocketSphinxTranscriber>(locale,
                                                     found == models.end() ? nullptr : &*found);
  }

  Expected<std::unique_ptr<InstallationRequest>> assetInstallationRequest(
      std::span<Transcriber* const> modules) override {
    for (Transcriber* module : modules) {
      const Model* model = static_cast<PocketSphinxTranscriber*>(module)->model();
      if (model == nullptr) return PlatformError{"no speech model for " + module->locale().identifier()};
      if (modelProblem(*model))
        return std::unique_ptr<InstallationRequest>(std::make_unique<ModelInstallation>(*model));
    }
    return std::unique_ptr<InstallationRequest>();
  }

  std::unique_ptr<Analyzer> makeAnalyzer(std::span<Transcriber* const> modules) override {
    // One recognition module is all tuvel-speech asks for.
    gate_ = std::make_shared<LoadGate>();
    return std::make_unique<PocketSphinxAnalyzer>(*static_cast<PocketSphinxTranscriber*>(modules[0]),
                                                  gate_);
  }

  Expected<std::unique_ptr<AudioFile>> openAudioFile(const std::string& path) override {
    // The model is loaded once the file has been found to be audio.
    return audio_->open(path, [gate = gate_] {
      if (gate) gate->open();
    });
  }

 private:
  std::unique_ptr<AudioInput> audio_;
  std::shared_ptr<LoadGate> gate_;  // of the analyzer made last
};

}  // namespace
}  // namespace tuvel::speech::pocketsphinx

extern "C" __attribute__((visibility("default"))) tuvel::speech::SpeechEngine*
tuvel_speech_engine_v3(tuvel::speech::Unavailable& unavailable) {
  using namespace tuvel::speech::pocketsphinx;
  auto audio = AudioInput::load();
  if (!audio) {
    unavailable = std::move(audio).error();
    return nullptr;
  }
  silenceDecoderLog();
  return new PocketSphinxEngine(std::move(audio).value());
}
