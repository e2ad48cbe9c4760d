// SPDX-License-Identifier: Apache-2.0
#include "tests/fake_engine.h"

namespace tuvel::speech::testing {
namespace {

class FakeTranscriber final : public Transcriber {
 public:
  explicit FakeTranscriber(Locale locale) : locale_(std::move(locale)) {}
  const Locale& locale() const override { return locale_; }
  ResultStream& results() override { return channel_; }
  ResultChannel& channel() { return channel_; }

 private:
  Locale locale_;
  ResultChannel channel_;
};

class FakeInstallation final : public InstallationRequest {
 public:
  explicit FakeInstallation(FakeEngine& engine) : engine_(engine) {}
  Expected<void> downloadAndInstall() override {
    engine_.record("install");
    if (engine_.script().installFails) return PlatformError{*engine_.script().installFails};
    return {};
  }

 private:
  FakeEngine& engine_;
};

class FakeAudio final : public AudioFile {
 public:
  Expected<std::size_t> read(std::span<std::int16_t>) override { return std::size_t{0}; }
};

class FakeAnalyzer final : public Analyzer {
 public:
  FakeAnalyzer(FakeEngine& engine, FakeTranscriber& transcriber)
      : engine_(engine), transcriber_(transcriber) {}

  Expected<std::optional<double>> analyzeSequence(AudioFile&) override {
    engine_.record("analyse");
    for (const std::string& piece : engine_.script().pieces) transcriber_.channel().push(piece);
    if (engine_.script().analyseFails) return PlatformError{*engine_.script().analyseFails};
    return engine_.script().lastSample;
  }

  Expected<void> finalizeAndFinish(double through) override {
    engine_.record("finish " + std::to_string(through));
    if (engine_.script().finishFails) return PlatformError{*engine_.script().finishFails};
    for (const std::string& piece : engine_.script().finalPieces) transcriber_.channel().push(piece);
    endStream();
    return {};
  }

  void cancelAndFinishNow() override {
    engine_.record("abandon");
    endStream();
  }

 private:
  void endStream() {
    if (engine_.script().streamFails)
      transcriber_.channel().close(PlatformError{*engine_.script().streamFails});
    else
      transcriber_.channel().close();
  }

  FakeEngine& engine_;
  FakeTranscriber& transcriber_;
};

}  // namespace

std::vector<Locale> FakeEngine::supportedLocales() {
  record("supported");
  std::vector<Locale> locales;
  for (const std::string& identifier : script_.supported) locales.emplace_back(identifier);
  return locales;
}

std::unique_ptr<Transcriber> FakeEngine::makeTranscriber(const Locale& locale) {
  record("transcriber " + locale.identifier());
  return std::make_unique<FakeTranscriber>(locale);
}

Expected<std::unique_ptr<InstallationRequest>> FakeEngine::assetInstallationRequest(
    std::span<Transcriber* const> modules) {
  record("request " + std::to_string(modules.size()));
  if (script_.requestFails) return PlatformError{*script_.requestFails};
  if (!script_.modelMissing) return std::unique_ptr<InstallationRequest>();
  return std::unique_ptr<InstallationRequest>(std::make_unique<FakeInstallation>(*this));
}

std::unique_ptr<Analyzer> FakeEngine::makeAnalyzer(std::span<Transcriber* const> modules) {
  record("analyzer " + std::to_string(modules.size()));
  return std::make_unique<FakeAnalyzer>(*this, *static_cast<FakeTranscriber*>(modules[0]));
}

Expected<std::unique_ptr<AudioFile>> FakeEngine::openAudioFile(const std::string& path) {
  record("open " + path);
  if (script_.openFails) return PlatformError{*script_.openFails};
  return std::unique_ptr<AudioFile>(std::make_unique<FakeAudio>());
}

}  // namespace tuvel::speech::testing
