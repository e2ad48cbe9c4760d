// SPDX-License-Identifier: Apache-2.0
#include "engine/pocketsphinx/audio_input.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <filesystem>
#include <set>
#include <vector>

#include "engine/module_file.h"
#include "engine/pocketsphinx/library_pages.h"

namespace tuvel::speech::pocketsphinx {
namespace {

std::string modulePath() {
  Dl_info self{};
  if (::dladdr(reinterpret_cast<void*>(&modulePath), &self) == 0 || self.dli_fname == nullptr)
    return AUDIO_MODULE;
  return (std::filesystem::path(self.dli_fname).parent_path() / AUDIO_MODULE).string();
}

struct LoadedModule {
  void* library;
  AudioEntry entry;
  std::vector<std::span<std::byte>> segments;
};

Expected<LoadedModule, std::string> loadModule(const std::string& module) {
  const std::set<std::string> before = loadedLibraries();
  void* library = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return std::string(::dlerror());
  auto entry = reinterpret_cast<AudioEntry>(::dlsym(library, TUVEL_SPEECH_AUDIO_ENTRY));
  if (entry == nullptr) {
    std::string why = ::dlerror();
    ::dlclose(library);
    return why;
  }
  return LoadedModule{library, entry, readOnlySegmentsSince(before)};
}

}  // namespace

/// PrereadAudio - samples read ahead, then whatever the source still holds.
/// They are kept in pieces as read, so the buffer never moves or doubles.
class PrereadAudio final : public AudioFile {
 public:
  static constexpr std::size_t CHUNK_SAMPLES = 16384;

  PrereadAudio(AudioInput& input, std::unique_ptr<AudioFile> source)
      : input_(input), source_(std::move(source)) {}

  ~PrereadAudio() override { source_.reset(); }

  Expected<void> preread(std::size_t limit) {
    std::size_t total = 0;
    while (total < limit) {
      std::vector<std::int16_t> chunk(CHUNK_SAMPLES);
      Expected<std::size_t> got = source_->read(chunk);
      if (!got) return std::move(got).error();
      if (got.value() == 0) {
        // The whole recording is here: FFmpeg can go.
        source_.reset();
        input_.unload();
        break;
      }
      chunk.resize(got.value());
      total += got.value();
      chunks_.push_back(std::move(chunk));
    }
    return {};
  }

  Expected<std::size_t> read(std::span<std::int16_t> into) override {
    std::size_t filled = 0;
    while (filled < into.size() && !chunks_.empty()) {
      const std::vector<std::int16_t>& chunk = chunks_.front();
      const std::size_t n = std::min(into.size() - filled, chunk.size() - next_);
      std::memcpy(into.data() + filled, chunk.data() + next_, n * sizeof(std::int16_t));
      filled += n;
      next_ += n;
      if (next_ == chunk.size()) {
        chunks_.pop_front();
        next_ = 0;
      }
    }
    if (filled > 0 || !source_) return filled;
    return source_->read(into);
  }

 private:
  AudioInput& input_;
  std::unique_ptr<AudioFile> source_;
  std::deque<std::vector<std::int16_t>> chunks_;
  std::size_t next_ = 0;  // into chunks_.front()
};

AudioInput::AudioInput(std::string module, void* library, AudioEntry entry,
                       std::vector<std::span<std::byte>> segments)
    : module_(std::move(module)), library_(library), entry_(entry), segments_(std::move(segments)) {}

AudioInput::~AudioInput() { unload(); }

Expected<std::unique_ptr<AudioInput>, Unavailable> AudioInput::load() {
  std::string module = modulePath();
  auto loaded = loadModule(module);
  if (!loaded) return Unavailable{std::move(loaded).error(), moduleFileMissing(module)};
  LoadedModule& made = loaded.value();
  return std::unique_ptr<AudioInput>(
      new AudioInput(std::move(module), made.library, made.entry, std::move(made.segments)));
}

Expected<void> AudioInput::reload() {
  if (library_ != nullptr) return {};
  auto loaded = loadModule(module_);
  if (!loaded) return PlatformError{loaded.error()};
  library_ = loaded.value().library;
  entry_ = loaded.value().entry;
  segments_ = std::move(loaded.value().segments);
  return {};
}

void AudioInput::unload() {
  if (library_ != nullptr) ::dlclose(library_);
  library_ = nullptr;
  entry_ = nullptr;
  segments_.clear();
}

Expected<std::unique_ptr<AudioFile>> AudioInput::open(const std::string& path,
                                                      const std::function<void()>& readable) {
  if (Expected<void> loaded = reload(); !loaded) return std::move(loaded).error();
  Expected<std::unique_ptr<DecodedAudio>> source = entry_(path);
  if (!source) return std::move(source).error();
  readable();
  const std::size_t limit = std::size_t{MAX_PREREAD_SECONDS} * AudioFile::SAMPLE_RATE;
  // Holding a long recording whole would cost more than keeping FFmpeg, once
  // the pages that loading it left behind are given back.
  if (std::optional<std::size_t> expected = source.value()->expectedSamples();
      expected && *expected > limit) {
    reclaimPages(segments_);
    return std::unique_ptr<AudioFile>(std::move(source).value());
  }
  auto audio = std::make_unique<PrereadAudio>(*this, std::move(source).value());
  if (Expected<void> read = audio->preread(limit); !read) return std::move(read).error();
  return std::unique_ptr<AudioFile>(std::move(audio));
}

}  // namespace tuvel::speech::pocketsphinx
