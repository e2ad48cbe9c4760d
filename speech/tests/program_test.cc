// SPDX-License-Identifier: Apache-2.0
// The real tuvel-speech as callers run it: every failure status with its exact
// line, and transcripts of real recorded speech in several formats.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/run_program.h"

namespace tuvel::speech {
namespace {

namespace fs = std::filesystem;
using testing::Launch;
using testing::Outcome;
using testing::runProgram;
using testing::shell;

const std::string PROGRAM = TUVEL_SPEECH_BIN;
const std::string PLUGIN = TUVEL_SPEECH_PLUGIN;
const std::string AUDIO_MODULE = fs::path(PLUGIN).replace_filename("tuvel-speech-ffmpeg.so");
// Where an installation keeps the modules, from the program's folder.
const std::string PLUGIN_RELDIR = TUVEL_PLUGIN_RELDIR;
const std::string FAKE_PLUGIN = TUVEL_SPEECH_FAKE_PLUGIN;
const std::string GOFORWARD = "/usr/share/pocketsphinx/test/data/goforward.raw";
const std::string MODEL_DIR = "/usr/share/pocketsphinx/model";
const std::string USAGE = "tuvel-speech: usage: tuvel-speech <audio-file> [bcp47-locale]\n";
const std::string INSTALL_ENGINE =
    "; install it with: sudo apt-get install libpocketsphinx3 libsphinxbase3 pocketsphinx-en-us "
    "libavformat59 libavcodec59 libswresample4 libavutil57\n";
std::string ownModules(const std::string& folder) {
  return "; the program's own modules tuvel-speech-pocketsphinx.so and tuvel-speech-ffmpeg.so "
         "must sit in " + folder + ", as cmake --install puts them\n";
}

class Program : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/tuvel-speech-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    // Readable by the unprivileged user some runs switch to.
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    // Debian's recording of "go forward ten meters", in the formats callers send.
    const std::pair<const char*, const char*> formats[] = {
        {"wav", "-c:a pcm_s16le"},     {"flac", "-c:a flac"},
        {"ogg", "-c:a libvorbis"},     {"opus", "-c:a libopus"},
        {"mp3", "-c:a libmp3lame"},    {"m4a", "-c:a aac"},
    };
    for (auto [extension, codec] : formats)
      ASSERT_EQ(ffmpeg("-f s16le -ar 16000 -ac 1 -i " + GOFORWARD + " " + codec,
                       "goforward." + std::string(extension)),
                0);
    // The same at 44.1 kHz in stereo, for the resampling.
    ASSERT_EQ(ffmpeg("-f s16le -ar 16000 -ac 1 -i " + GOFORWARD + " -ar 44100 -ac 2",
                     "goforward-44k-stereo.wav"),
              0);
    ASSERT_EQ(ffmpeg("-f lavfi -i anullsrc=r=16000:cl=mono -t 3", "silence.wav"), 0);
    ASSERT_EQ(ffmpeg("-f lavfi -i anullsrc=r=16000:cl=mono -t 0", "empty.wav"), 0);
    std::ofstream(dir_ + "/notes.wav") << "these are not the sounds you are looking for\n";
    std::ofstream(dir_ + "/zero.wav");
  }

  static void TearDownTestSuite() { fs::remove_all(dir_); }

  static int ffmpeg(const std::string& arguments, const std::string& output) {
    return shell("ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " '" + dir_ +
                 "/" + output + "'");
  }

  static std::string path(const std::string& name) { return dir_ + "/" + name; }

  static Outcome speech(std::vector<std::string> args, Launch launch = {}) {
    if (launch.program.empty()) launch.program = PROGRAM;
    launch.argv.insert(launch.argv.begin(), "tuvel-speech");
    launch.argv.insert(launch.argv.end(), args.begin(), args.end());
    return runProgram(launch);
  }

  // A copy of the program in `name`/bin, with copies of `modules` (as the
  // engine plug-in, then the audio module) in `folder` from there.
  static std::string installAlone(const std::string& name, const std::vector<std::string>& modules,
                                  const std::string& folder = ".") {
    const fs::path bin = fs::path(dir_) / name / "bin";
    fs::create_directories(bin / folder);
    fs::copy_file(PROGRAM, bin / "tuvel-speech", fs::copy_options::overwrite_existing);
    const char* names[] = {"tuvel-speech-pocketsphinx.so", "tuvel-speech-ffmpeg.so"};
    for (std::size_t i = 0; i < modules.size(); ++i)
      fs::copy_file(modules[i], bin / folder / names[i], fs::copy_options::overwrite_existing);
    return (bin / "tuvel-speech").string();
  }

  // The folder `relative` from the program of installAlone(name, ...).
  static std::string folderOf(const std::string& name, const std::string& relative) {
    const fs::path folder = (fs::path(dir_) / name / "bin" / relative).lexically_normal();
    return (folder.has_filename() ? folder : folder.parent_path()).string();
  }

  static bool canUnshare() { return shell("unshare --mount true 2>/dev/null") == 0; }

  static inline std::string dir_;
};

void expectFailure(const Outcome& outcome, int status, const std::string& err) {
  EXPECT_EQ(outcome.status, status);
  EXPECT_EQ(outcome.err, err);
  EXPECT_EQ(outcome.out, "");
}

TEST_F(Program, WrongArgumentCountIsUsageBeforeAnythingElse) {
  const std::vector<std::string> cases[] = {
      {}, {"a.wav", "en-US", "extra"}, {"/no/such/file.wav", "en-US", "x", "y"}};
  for (const auto& args : cases) {
    Launch launch;
    launch.argv = {"renamed-speech"};
    launch.argv.insert(launch.argv.end(), args.begin(), args.end());
    launch.program = PROGRAM;
    expectFailure(runProgram(launch), 64, USAGE);
  }
}

TEST_F(Program, MissingFileIsReportedWithItsAbsolutePath) {
  fs::create_symlink(path("nowhere.wav"), path("dangling.wav"));
  struct Case {
    std::vector<std::string> args;
    std::string reported;
  };
  const Case cases[] = {
      {{"missing.wav"}, path("missing.wav")},
      {{"sub/missing.wav", "en-US"}, path("sub/missing.wav")},
      {{"./missing.wav"}, path("./missing.wav")},
      {{path("missing.wav")}, path("missing.wav")},
      {{"dangling.wav"}, path("dangling.wav")},
  };
  for (const Case& c : cases) {
    Launch launch;
    launch.cwd = dir_;
    expectFailure(speech(c.args, launch), 66, "tuvel-speech: audio file not found: " + c.reported + "\n");
  }
}

TEST_F(Program, PathsInMessagesStayOneUtf8Line) {
  struct Case {
    std::string name;
    std::string shown;
  };
  const Case cases[] = {
      {"two\nlines.wav", "two\\nlines.wav"},
      {"tab\tand\x1b[0m.wav", "tab\\tand\\u{1b}[0m.wav"},
      {"latin1-caf\xe9.wav", "latin1-caf\\xe9.wav"},
      {"caf\xc3\xa9.wav", "caf\xc3\xa9.wav"},
      {"back\\slash.wav", "back\\\\slash.wav"},
  };
  for (const Case& c : cases)
    expectFailure(speech({path(c.name)}), 66,
                  "tuvel-speech: audio file not found: " + path(c.shown) + "\n");

  // An empty path is the working directory itself, which is not audio.
  Launch launch;
  launch.cwd = dir_;
  expectFailure(speech({""}, launch), 1, "tuvel-speech: Is a directory\n");
}

TEST_F(Program, MissingPluginIsTheUnavailableEngine) {
  // No package brings the program's own modules back: the advice says where
  // they belong instead. A plug-in beside the program (a build tree) is
  // preferred; without one the installation's folder is the place.
  struct Case {
    std::string name;
    std::vector<std::string> modules;  // never the audio module
    std::string folder;                // of the modules, from the program's
    std::string missing;
  };
  const Case cases[] = {
      {"alone", {}, ".", "tuvel-speech-pocketsphinx.so"},
      {"without-audio", {PLUGIN}, ".", "tuvel-speech-ffmpeg.so"},
      {"installed-without-audio", {PLUGIN}, PLUGIN_RELDIR, "tuvel-speech-ffmpeg.so"},
  };
  for (const Case& c : cases) {
    Launch launch;
    launch.program = installAlone(c.name, c.modules, c.folder);
    // The file check still comes first.
    expectFailure(speech({path("missing.wav")}, launch), 66,
                  "tuvel-speech: audio file not found: " + path("missing.wav") + "\n");
    const std::string folder = folderOf(c.name, c.modules.empty() ? PLUGIN_RELDIR : c.folder);
    expectFailure(speech({path("goforward.wav")}, launch), 2,
                  "tuvel-speech: speech engine PocketSphinx not available (" + folder + "/" +
                      c.missing + ": cannot open shared object file: No such file or directory)" +
                      ownModules(folder));
  }
}

TEST_F(Program, ModulesAreFoundBesideTheProgramOrWhereAnInstallationPutsThem) {
  // The fake engine beside the program shadows the real one installed.
  struct Case {
    std::string name;
    std::vector<std::string> beside;
    std::string out;
  };
  const Case cases[] = {
      {"installed", {}, "go forward ten meters\n"},
      {"installed-and-beside", {FAKE_PLUGIN}, "bonjour\n"},
  };
  for (const Case& c : cases) {
    Launch launch;
    launch.program = installAlone(c.name, {PLUGIN, AUDIO_MODULE}, PLUGIN_RELDIR);
    installAlone(c.name, c.beside);
    launch.env = {{"LC_ALL", "de_AT.UTF-8"}};
    Outcome outcome = speech({path("goforward.wav")}, launch);
    EXPECT_EQ(outcome.status, 0) << c.name;
    EXPECT_EQ(outcome.out, c.out) << c.name;
    EXPECT_EQ(outcome.err, "") << c.name;
  }
}

TEST_F(Program, MissingEngineLibraryIsTheUnavailableEngine) {
  if (!canUnshare()) GTEST_SKIP() << "cannot make a mount namespace here";
  std::ofstream(path("empty.so"));
  // The recognizer's library, then one of the audio decoder's, hidden behind
  // an empty file in this run only.
  for (const char* name : {"libpocketsphinx.so.3", "libavformat.so.59"}) {
    const std::string library = "/usr/lib/x86_64-linux-gnu/" + std::string(name);
    ASSERT_TRUE(fs::exists(library));
    Launch launch;
    launch.program = "/usr/bin/unshare";
    launch.argv = {"unshare", "--mount", "--propagation", "private", "sh", "-c",
                   "mount --bind \"$0\" \"$1\" && exec \"$2\" \"$3\"", path("empty.so"), library,
                   PROGRAM, path("goforward.wav")};
    // The loader names the library by the path it found it under.
    Outcome outcome = runProgram(launch);
    EXPECT_EQ(outcome.status, 2) << name;
    EXPECT_EQ(outcome.out, "");
    EXPECT_TRUE(outcome.err.starts_with("tuvel-speech: speech engine PocketSphinx not available (/"))
        << outcome.err;
    EXPECT_TRUE(outcome.err.ends_with("/" + std::string(name) + ": file too short)" + INSTALL_ENGINE))
        << outcome.err;
  }
}

TEST_F(Program, NoModelForTheLocaleIsStatusThree) {
  // An engine offering only de-DE and fr-CA in place of the real one.
  Launch launch;
  launch.program = installAlone("french-german", {FAKE_PLUGIN});
  struct Case {
    std::vector<std::string> args;
    std::optional<std::string> lang;
    std::string message;
  };
  const Case cases[] = {
      {{path("goforward.wav"), "en_GB"}, std::nullopt, "no speech model for en-GB (or en-US)"},
      {{path("goforward.wav"), "ja-JP"}, std::nullopt, "no speech model for ja-JP (or en-US)"},
      {{path("goforward.wav")}, "ja_JP.UTF-8", "no speech model for ja-JP (or en-US)"},
      {{path("goforward.wav")}, "C", "no speech model for en-US (or en-US)"},
  };
  for (const Case& c : cases) {
    launch.env = {{"LC_ALL", std::nullopt}, {"LC_MESSAGES", std::nullopt}, {"LANG", c.lang}};
    expectFailure(speech(c.args, launch), 3, "tuvel-speech: " + c.message + "\n");
  }
  launch.env = {{"LC_ALL", "de_AT.UTF-8"}};
  Outcome german = speech({path("goforward.wav")}, launch);
  EXPECT_EQ(german.status, 0);
  EXPECT_EQ(german.out, "bonjour\n");
  EXPECT_EQ(german.err, "");
}

// The model hidden behind an empty file system, in this run only, with
// `before` run ahead of hiding it; "$0" is the model directory.
Launch withoutModelAfter(const std::string& before, const std::string& script,
                         std::vector<std::string> args) {
  Launch launch;
  launch.program = "/usr/bin/unshare";
  launch.argv = {"unshare", "--mount", "--propagation", "private", "sh", "-c",
                 before + "mount -t tmpfs none \"$0\" && " + script, MODEL_DIR};
  launch.argv.insert(launch.argv.end(), args.begin(), args.end());
  return launch;
}

Launch withoutModel(const std::string& script, std::vector<std::string> args) {
  return withoutModelAfter("", script, std::move(args));
}

TEST_F(Program, MissingModelWithoutRightsSaysWhatToRun) {
  if (!canUnshare()) GTEST_SKIP() << "cannot make a mount namespace here";
  // The audio path is a directory: had it been opened, the failure would say so.
  Launch launch = withoutModel("exec setpriv --reuid=65534 --regid=65534 --clear-groups \"$1\" \"$2\"",
                               {PROGRAM, "/usr/share/pocketsphinx"});
  expectFailure(runProgram(launch), 1,
                "tuvel-speech: speech model for en-US is not installed (" + MODEL_DIR +
                    "/en-us/en-us/feat.params: No such file or directory); install it with: sudo "
                    "apt-get install --reinstall pocketsphinx-en-us\n");
}

// Why the model cannot be installed in a test here, or empty.
std::string whyNoInstalling() {
  if (::geteuid() != 0 || shell("unshare --mount true 2>/dev/null") != 0)
    return "needs root and a mount namespace";
  if (shell("ls /var/cache/apt/archives/pocketsphinx-en-us_*.deb >/dev/null 2>&1") != 0)
    return "the model package is not in the package cache; not downloading it";
  return "";
}

// The model replaced, in this run only, by a copy of it that `damage` (run in
// the copy's en-us directory) spoils before `script` runs.
Launch withDamagedModel(const std::string& pristine, const std::string& damage,
                        const std::string& script, std::vector<std::string> args) {
  return withoutModelAfter("mkdir '" + pristine + "' && cp -a \"$0/en-us\" '" + pristine + "/' && ",
                           "cp -a '" + pristine + "/en-us' \"$0/\" && (cd \"$0/en-us\" && " +
                               damage + ") && " + script,
                           std::move(args));
}

TEST_F(Program, DamagedModelIsFoundBeforeTheDecoderReadsIt) {
  if (!canUnshare()) GTEST_SKIP() << "cannot make a mount namespace here";
  // Damage that made the decoder give a wrong transcript, end the process
  // without a word, or crash it.
  struct Case {
    std::string damage;
    std::string file;
  };
  const Case cases[] = {
      {"truncate -s 984512 en-us/sendump", "en-us/sendump"},
      {"truncate -s 1000 en-us/transition_matrices", "en-us/transition_matrices"},
      {"printf 'Trie Language Model' >en-us.lm.bin", "en-us.lm.bin"},
      {"printf X | dd of=en-us/means bs=1 seek=400000 conv=notrunc status=none", "en-us/means"},
  };
  int n = 0;
  for (const Case& c : cases) {
    Launch launch = withDamagedModel(
        path("pristine-" + std::to_string(n++)), c.damage,
        "exec setpriv --reuid=65534 --regid=65534 --clear-groups \"$1\" \"$2\"",
        {PROGRAM, path("goforward.wav")});
    expectFailure(runProgram(launch), 1,
                  "tuvel-speech: speech model for en-US is damaged (" + MODEL_DIR + "/en-us/" +
                      c.file +
                      ": does not match the checksum its package recorded); install it with: "
                      "sudo apt-get install --reinstall pocketsphinx-en-us\n");
  }
}

TEST_F(Program, DamagedModelIsReinstalled) {
  if (std::string why = whyNoInstalling(); !why.empty()) GTEST_SKIP() << why;
  Launch launch = withDamagedModel(
      path("pristine-root"), "truncate -s 984512 en-us/sendump",
      "\"$1\" \"$2\"; echo \"status $?\"; cd / && grep en-us/en-us/sendump "
      "/var/lib/dpkg/info/pocketsphinx-en-us.md5sums | md5sum -c --quiet && echo intact",
      {PROGRAM, path("goforward.wav")});
  Outcome outcome = runProgram(launch);
  EXPECT_EQ(outcome.out, "go forward ten meters\nstatus 0\nintact\n");
  EXPECT_EQ(outcome.err, "");
}

TEST_F(Program, RejectedAudioLeavesTheModelUntouched) {
  if (std::string why = whyNoInstalling(); !why.empty()) GTEST_SKIP() << why;
  // The model is not read, nor repaired, for a file that is not audio.
  Launch launch = withDamagedModel(
      path("pristine-rejected"), "truncate -s 984512 en-us/sendump",
      "\"$1\" \"$2\"; echo \"status $?\"; stat -c %s \"$0/en-us/en-us/sendump\"",
      {PROGRAM, path("notes.wav")});
  Outcome outcome = runProgram(launch);
  EXPECT_EQ(outcome.out, "status 1\n984512\n");
  EXPECT_EQ(outcome.err, "tuvel-speech: Invalid data found when processing input\n");
}

TEST_F(Program, MissingModelIsInstalledOnceByThePackageManager) {
  if (std::string why = whyNoInstalling(); !why.empty()) GTEST_SKIP() << why;
  // Installed by the first run into this namespace's empty model directory;
  // the second finds it and leaves its files as they are.
  Launch launch = withoutModel(
      "\"$1\" \"$2\"; echo \"status $?\"; a=$(stat -c %i.%Z \"$0/en-us/en-us.lm.bin\"); "
      "\"$1\" \"$2\"; echo \"status $?\"; b=$(stat -c %i.%Z \"$0/en-us/en-us.lm.bin\"); "
      "[ \"$a\" = \"$b\" ] && echo unchanged",
      {PROGRAM, path("goforward.wav")});
  Outcome outcome = runProgram(launch);
  EXPECT_EQ(outcome.out,
            "go forward ten meters\nstatus 0\ngo forward ten meters\nstatus 0\nunchanged\n");
  EXPECT_EQ(outcome.err, "");
}

TEST_F(Program, ParallelRunsThatInstallTheModelAllSucceed) {
  if (std::string why = whyNoInstalling(); !why.empty()) GTEST_SKIP() << why;
  // Three transcriptions at once, all finding the model missing.
  Launch launch = withoutModel(
      "for i in 1 2 3; do (\"$1\" \"$2\" >\"$3.$i\" 2>&1; echo \"status $?\" >>\"$3.$i\") & done; "
      "wait; cat \"$3.1\" \"$3.2\" \"$3.3\"",
      {PROGRAM, path("goforward.wav"), path("parallel")});
  Outcome outcome = runProgram(launch);
  EXPECT_EQ(outcome.out, "go forward ten meters\nstatus 0\ngo forward ten meters\nstatus 0\n"
                         "go forward ten meters\nstatus 0\n");
  EXPECT_EQ(outcome.err, "");
}

TEST_F(Program, InstallingWaitsForThePackageManagersLock) {
  if (std::string why = whyNoInstalling(); !why.empty()) GTEST_SKIP() << why;
  // Another installation holds the package manager's lock for a few seconds.
  Launch launch = withoutModel(
      "python3 -c 'import fcntl, os, sys, time\n"
      "fd = os.open(\"/var/lib/dpkg/lock-frontend\", os.O_RDWR)\n"
      "fcntl.lockf(fd, fcntl.LOCK_EX)\n"
      "print(\"held\", flush=True)\n"
      "time.sleep(3)' >\"$3\" & "
      "while [ ! -s \"$3\" ]; do sleep 0.05; done; \"$1\" \"$2\"; echo \"status $?\"; wait",
      {PROGRAM, path("goforward.wav"), path("lock-held")});
  Outcome outcome = runProgram(launch);
  EXPECT_EQ(outcome.out, "go forward ten meters\nstatus 0\n");
  EXPECT_EQ(outcome.err, "");
}

TEST_F(Program, TheInstallerIsNotTakenFromTheCallersEnvironment) {
  if (std::string why = whyNoInstalling(); !why.empty()) GTEST_SKIP() << why;
  // An apt-get earlier in PATH, and an apt configuration that runs a command
  // as root: neither may run.
  const fs::path bin = fs::path(dir_) / "caller-bin";
  fs::create_directories(bin);
  std::ofstream(bin / "apt-get") << "#!/bin/sh\ntouch '" << path("fake-apt-get-ran") << "'\n";
  fs::permissions(bin / "apt-get", fs::perms::owner_all);
  std::ofstream(path("caller-apt.conf"))
      << "DPkg::Pre-Invoke {\"touch '" << path("caller-config-ran") << "'\";};\n";
  const std::vector<std::pair<std::string, std::optional<std::string>>> environments[] = {
      {{"PATH", bin.string() + ":/usr/sbin:/usr/bin:/sbin:/bin"}},
      {{"APT_CONFIG", path("caller-apt.conf")}},
  };
  for (const auto& environment : environments) {
    Launch launch = withoutModel("exec \"$1\" \"$2\"", {PROGRAM, path("goforward.wav")});
    launch.env = environment;
    Outcome outcome = runProgram(launch);
    EXPECT_EQ(outcome.status, 0) << environment[0].first;
    EXPECT_EQ(outcome.out, "go forward ten meters\n") << environment[0].first;
    EXPECT_EQ(outcome.err, "") << environment[0].first;
  }
  EXPECT_FALSE(fs::exists(path("fake-apt-get-ran")));
  EXPECT_FALSE(fs::exists(path("caller-config-ran")));
}

TEST_F(Program, WhatIsNotAudioFailsWithThePlatformDescription) {
  fs::create_directories(path("folder.wav"));
  const std::pair<std::string, std::string> cases[] = {
      {path("folder.wav"), "Is a directory"},
      {path("notes.wav"), "Invalid data found when processing input"},
      {path("zero.wav"), "Invalid data found when processing input"},
  };
  for (const auto& [file, description] : cases)
    expectFailure(speech({file}), 1, "tuvel-speech: " + description + "\n");
}

TEST_F(Program, TranscribesRecordedSpeechInEveryFormat) {
  for (const char* name : {"goforward.wav", "goforward.flac", "goforward.ogg", "goforward.opus",
                           "goforward.mp3", "goforward.m4a", "goforward-44k-stereo.wav"}) {
    Outcome outcome = speech({path(name)});
    EXPECT_EQ(outcome.status, 0) << name;
    EXPECT_EQ(outcome.out, "go forward ten meters\n") << name;
    EXPECT_EQ(outcome.err, "") << name;
  }
}

TEST_F(Program, OutputThatCannotBeWrittenIsReportedNotASignal) {
  // A reader that has gone away, and a file-size limit that a regular file
  // on standard output meets.
  Launch closed;
  closed.closedReader = true;
  expectFailure(speech({path("goforward.wav")}, closed), 1, "tuvel-speech: Broken pipe\n");

  Launch limited;
  limited.program = "/bin/sh";
  limited.argv = {"sh", "-c", "ulimit -f 0 && exec \"$0\" \"$1\" >\"$2\"", PROGRAM,
                  path("goforward.wav"), path("limited.out")};
  expectFailure(runProgram(limited), 1, "tuvel-speech: File too large\n");
}

TEST_F(Program, EveryLocaleComesToTheEnglishModel) {
  const std::vector<std::string> cases[] = {
      {"en-US"}, {"en_US"}, {"en_GB"}, {"fr-FR"}, {" en-US "}, {""}};
  for (const auto& locale : cases) {
    Outcome outcome = speech({path("goforward.wav"), locale[0]});
    EXPECT_EQ(outcome.status, 0) << '"' << locale[0] << '"';
    EXPECT_EQ(outcome.out, "go forward ten meters\n") << '"' << locale[0] << '"';
  }
  Launch launch;
  launch.cwd = dir_;
  launch.env = {{"LC_ALL", "de_DE.UTF-8"}};
  Outcome relative = speech({"goforward.flac"}, launch);
  EXPECT_EQ(relative.status, 0);
  EXPECT_EQ(relative.out, "go forward ten meters\n");
}

TEST_F(Program, NoSpeechIsAnEmptyLine) {
  for (const char* name : {"silence.wav", "empty.wav"}) {
    Outcome outcome = speech({path(name)});
    EXPECT_EQ(outcome.status, 0) << name;
    EXPECT_EQ(outcome.out, "\n") << name;
    EXPECT_EQ(outcome.err, "") << name;
  }
}

}  // namespace
}  // namespace tuvel::speech
