// SPDX-License-Identifier: Apache-2.0
#pragma once
// SpeechEngine - the operations tuvel-speech needs of an on-device speech
// engine. The engine lives in a plug-in loaded at run time; a test double
// can stand in for it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "engine/expected.h"
#include "engine/locale.h"

namespace tuvel::speech {

/// ResultStream - a transcriber's finished pieces of text, in order.
class ResultStream {
 public:
  virtual ~ResultStream() = default;
  /// Blocks for the next piece; none when the stream has ended or `stop` was
  /// requested; a failure when the stream failed.
  virtual Expected<std::optional<std::string>> next(std::stop_token stop) = 0;
};

/// Transcriber - a recognition module for one locale, reporting final results
/// only, without attributes.
class Transcriber {
 public:
  virtual ~Transcriber() = default;
  virtual const Locale& locale() const = 0;
  virtual ResultStream& results() = 0;
};

/// InstallationRequest - what must be installed for some modules to work.
class InstallationRequest {
 public:
  virtual ~InstallationRequest() = default;
  /// Returns once the model is installed.
  virtual Expected<void> downloadAndInstall() = 0;
};

/// AudioFile - an open audio file, read as 16 kHz mono 16-bit samples.
class AudioFile {
 public:
  static constexpr int SAMPLE_RATE = 16000;
  virtual ~AudioFile() = default;
  /// Fills `into` from the start; 0 at the end of the audio.
  virtual Expected<std::size_t> read(std::span<std::int16_t> into) = 0;
};

/// Analyzer - feeds audio to its transcribers.
class Analyzer {
 public:
  virtual ~Analyzer() = default;
  /// Consumes all of `audio`; gives the time of its last sample in seconds,
  /// or none when it held no samples.
  virtual Expected<std::optional<double>> analyzeSequence(AudioFile& audio) = 0;
  /// Delivers every result up to `through`, then ends the result streams.
  virtual Expected<void> finalizeAndFinish(double through) = 0;
  /// Stops the analysis and ends the result streams at once.
  virtual void cancelAndFinishNow() = 0;
};

class SpeechEngine {
 public:
  virtual ~SpeechEngine() = default;
  /// The locales the engine can provide a model for, in its order.
  virtual std::vector<Locale> supportedLocales() = 0;
  /// `locale` is one of supportedLocales().
  virtual std::unique_ptr<Transcriber> makeTranscriber(const Locale& locale) = 0;
  /// None when the modules' models are installed.
  virtual Expected<std::unique_ptr<InstallationRequest>> assetInstallationRequest(
      std::span<Transcriber* const> modules) = 0;
  /// `modules` were made by this engine and outlive the analyzer.
  virtual std::unique_ptr<Analyzer> makeAnalyzer(std::span<Transcriber* const> modules) = 0;
  virtual Expected<std::unique_ptr<AudioFile>> openAudioFile(const std::string& path) = 0;
};

/// Unavailable - why the engine could not be loaded: the loader's own text,
/// and whether what is missing is one of the program's own modules (which no
/// package brings back) rather than a library they need.
struct Unavailable {
  std::string why;
  bool ownModuleMissing = false;
};

/// The plug-in's one exported symbol: makes the engine, owned by the caller,
/// or gives null and says in `unavailable` what it could not load. The
/// version in its name changes whenever this interface does.
#define TUVEL_SPEECH_ENGINE_ENTRY "tuvel_speech_engine_v3"
using EngineEntry = SpeechEngine* (*)(Unavailable& unavailable);

}  // namespace tuvel::speech
