// SPDX-License-Identifier: Apache-2.0
// tuvel-speech - transcribes one audio file with the on-device speech engine.

#include <malloc.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>

#include "die.h"
#include "engine_loader.h"
#include "transcribe.h"

namespace tuvel::speech {
namespace {

// Relative paths are taken from the working directory, without resolving
// links; the empty path is the working directory itself.
std::string absolutePath(const char* argument) {
  std::error_code error;
  std::filesystem::path path = *argument == '\0'
                                   ? std::filesystem::current_path(error) / ""
                                   : std::filesystem::absolute(argument, error);
  return error ? std::string(argument) : path.string();
}

bool exists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

bool writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

int run(int argc, char** argv) {
  if (argc != 2 && argc != 3) die("usage: tuvel-speech <audio-file> [bcp47-locale]", 64);

  const std::string path = absolutePath(argv[1]);
  if (!exists(path)) die("audio file not found: " + path, 66);

  Expected<std::string, Unavailable> folder = moduleFolder();
  Expected<LoadedEngine, Unavailable> loaded =
      folder ? loadEngine(folder.value()) : Expected<LoadedEngine, Unavailable>(folder.error());
  if (!loaded) {
    // Packages bring back the engine's libraries, not the program's own modules.
    const Unavailable& unavailable = loaded.error();
    die("speech engine PocketSphinx not available (" + unavailable.why +
            (unavailable.ownModuleMissing
                 ? "); the program's own modules tuvel-speech-pocketsphinx.so and "
                   "tuvel-speech-ffmpeg.so must sit in " + folder.value() +
                       ", as cmake --install puts them"
                 : "); install it with: sudo apt-get install libpocketsphinx3 libsphinxbase3 "
                   "pocketsphinx-en-us libavformat59 libavcodec59 libswresample4 libavutil57"),
        2);
  }

  const Locale requested = argc == 3 ? Locale(argv[2]) : Locale::current();

  Expected<std::string, Failure> transcript = transcribe(loaded.value().engine(), path, requested);
  if (!transcript) {
    if (const auto* helper = std::get_if<HelperError>(&transcript.error()))
      die(helper->message, helper->code);
    die(std::get<PlatformError>(transcript.error()).description, 1);
  }

  std::string line = std::move(transcript).value();
  line += '\n';
  if (!writeAll(STDOUT_FILENO, line)) die(std::error_code(errno, std::generic_category()).message(), 1);
  return 0;
}

}  // namespace
}  // namespace tuvel::speech

int main(int argc, char** argv) {
  // One malloc arena: the model is loaded on a second thread, and a secondary
  // arena would grow its heap a page at a time (thousands of mprotect calls).
  (void)::mallopt(M_ARENA_MAX, 1);
  // A closed reader or a file-size limit on standard output is a failed
  // write, reported like any other, not a silent death by signal.
  (void)::signal(SIGPIPE, SIG_IGN);
  (void)::signal(SIGXFSZ, SIG_IGN);
  try {
    return tuvel::speech::run(argc, argv);
  } catch (const std::exception& failure) {
    // Out of memory, mostly: still one line and status 1, never an abort.
    tuvel::speech::die(failure.what(), 1);
  }
}
