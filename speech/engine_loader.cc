// SPDX-License-Identifier: Apache-2.0
#include "engine_loader.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>
#include <utility>

#include "engine/module_file.h"

namespace tuvel::speech {

LoadedEngine::LoadedEngine(void* library, SpeechEngine* engine)
    : library_(library), engine_(engine) {}

LoadedEngine::LoadedEngine(LoadedEngine&& other) noexcept
    : library_(std::exchange(other.library_, nullptr)), engine_(std::move(other.engine_)) {}

LoadedEngine::~LoadedEngine() {
  engine_.reset();
  if (library_ != nullptr) ::dlclose(library_);
}

Expected<std::string, Unavailable> moduleFolder() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return Unavailable{"/proc/self/exe: " + error.message()};
  const std::filesystem::path own = self.parent_path();
  if (std::filesystem::exists(own / ENGINE_PLUGIN, error)) return own.string();
  return (own / TUVEL_PLUGIN_RELDIR).lexically_normal().string();
}

Expected<LoadedEngine, Unavailable> loadEngine(const std::string& folder) {
  const std::string plugin = (std::filesystem::path(folder) / ENGINE_PLUGIN).string();

  void* library = ::dlopen(plugin.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return Unavailable{::dlerror(), moduleFileMissing(plugin)};
  auto entry = reinterpret_cast<EngineEntry>(::dlsym(library, TUVEL_SPEECH_ENGINE_ENTRY));
  if (entry == nullptr) {
    Unavailable why{::dlerror()};
    ::dlclose(library);
    return why;
  }
  Unavailable unavailable;
  SpeechEngine* engine = entry(unavailable);
  if (engine == nullptr) {
    ::dlclose(library);
    return unavailable;
  }
  return LoadedEngine(library, engine);
}

}  // namespace tuvel::speech
