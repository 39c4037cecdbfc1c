// orvplay as a user runs it: the program with arguments, its exit codes,
// messages and files. The frames it writes are checked against the fade's
// definition and against how pictures enter and leave the stage.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <span>
#include <sstream>
#include <thread>

#include "tests/actors/stage.h"
#include "tests/tools/gif_decoder.h"
#ifdef ORVPLAY_VIDEO
#include "tests/tools/video_decoder.h"
#endif
#include "tools/orvplay/builtin_pictures.h"
#include "tools/orvplay/font.h"
#include "tools/orvplay/output_kinds.h"
#include "tools/orvplay/outputs.h"
#include "tools/picture.h"
#include "tools/png_io.h"

namespace fs = std::filesystem;
using orvplay::Picture;

namespace {

struct Result {
  int code = -1;
  std::string out, err;
  long peakKiB = 0;  // the program's peak resident memory
};

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class OrvplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orvplay-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { fs::remove_all(dir); }

  // Runs a program in the test's folder as a shell would: `setup` first (a
  // limit), standard output into `out` (read back when it is out.txt; "&-"
  // closes it).
  Result Exec(const std::string& program, const std::vector<std::string>& args,
              const std::string& setup = "", const std::string& out = "") {
    return Wait(Start(program, args, setup, out));
  }
  // Exec in two halves: the program starts, with the stop signals at their
  // defaults whatever the test's own are, and later its end is read.
  pid_t Start(const std::string& program, const std::vector<std::string>& args,
              const std::string& setup = "", const std::string& out = "") {
    std::string command = "cd " + Quote(dir.string()) + " && " + setup + " exec " + Quote(program);
    for (const auto& a : args) command += " " + Quote(a);
    command += " >" + (out == "&-" ? out : Quote(out.empty() ? dir.string() + ".out" : out)) +
               " 2>" + Quote(dir.string() + ".err") + " </dev/null";
    std::string shell = "/bin/sh", dashC = "-c";
    char* argv[] = {shell.data(), dashC.data(), command.data(), nullptr};
    pid_t pid = 0;
    const StopSignalsAtDefault attr;
    return posix_spawn(&pid, "/bin/sh", nullptr, &attr.attr, argv, environ) == 0 ? pid : -1;
  }
  Result Wait(pid_t pid) {
    const std::string outFile = dir.string() + ".out", errFile = dir.string() + ".err";
    Result r;
    int status = 0;
    rusage usage{};
    if (pid <= 0 || ::wait4(pid, &status, 0, &usage) != pid) return r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.peakKiB = usage.ru_maxrss;
    r.out = Slurp(outFile);
    r.err = Slurp(errFile);
    fs::remove(outFile);
    fs::remove(errFile);
    return r;
  }
  Result Run(const std::vector<std::string>& args) { return Exec(ORVPLAY_PATH, args); }
  Result Host(const std::vector<std::string>& args) { return Exec(ORVHOST_PATH, args); }

  void WritePng(const std::string& name, const Picture& p) {
    const std::vector<uint8_t> bytes = orvplay::EncodePng(p);
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }

  Picture ReadPng(const fs::path& path) { return orvplay::ReadPng(path.string()); }

  // Spawn attributes that start a program with SIGINT, SIGTERM and SIGHUP at
  // their defaults, even where the test itself ignores them (a background job
  // of a script): the programs keep a signal ignored at their start.
  struct StopSignalsAtDefault {
    posix_spawnattr_t attr;
    StopSignalsAtDefault() {
      posix_spawnattr_init(&attr);
      sigset_t stops;
      sigemptyset(&stops);
      for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, s);
      posix_spawnattr_setsigdefault(&attr, &stops);
      posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    }
    ~StopSignalsAtDefault() { posix_spawnattr_destroy(&attr); }
  };

  // Starts a program in the test's folder, its output thrown away.
  pid_t Spawn(const char* program, const std::vector<std::string>& args) {
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const StopSignalsAtDefault attr;
    const int rc = posix_spawn(&pid, program, &actions, &attr.attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
  }

  // Every file and folder under the test's folder with its bytes.
  std::map<std::string, std::string> Snapshot() {
    std::map<std::string, std::string> files;
    for (const std::string& name : Files()) {
      const fs::file_status st = fs::symlink_status(dir / name);
      files[name] = fs::is_directory(st) ? "<folder>"
                    : fs::is_fifo(st)    ? "<pipe>"
                    : fs::is_symlink(st) ? "<link " + fs::read_symlink(dir / name).string() + ">"
                                         : Slurp(dir / name);
    }
    return files;
  }

  // Every name in the folder, recursively, hidden ones included.
  std::vector<std::string> Files() {
    std::vector<std::string> names;
    // A running program may rename files meanwhile: skip what vanishes, and
    // take names apart without asking the file system (fs::relative would
    // look up a path that may be gone by then).
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
      names.push_back(it->path().lexically_relative(dir).string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // A folder that cannot be written stops even an endless run before it
  // starts, and leaves nothing behind.
  void ExpectRefusedBeforeWork(const std::string& folder, const std::string& why) {
    const auto before = Snapshot();
    for (const char* output : {"--out", "--frames"}) {
      SCOPED_TRACE(output);
      const Result r =
          Run({"OrvFade", output, folder + "/x.gif", "--duration", "600000", "--fps", "1000"});
      EXPECT_EQ(r.code, 1);
      EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
    }
    EXPECT_EQ(Snapshot(), before);
  }

  fs::path dir;
};

Picture Random(int32_t w, int32_t h, uint32_t seed) {
  std::mt19937 rng(seed);
  Picture p(w, h);
  for (auto& b : p.rgb) b = uint8_t(rng());
  return p;
}

// The fade at 32 bits, from its definition: weight = t * 256 / duration with t
// the elapsed time capped at the duration, each byte (a (256 - w) + b w) / 256.
Picture Fade(const Picture& a, const Picture& b, int32_t elapsed, int32_t duration) {
  const int32_t t = std::min(elapsed, duration);
  const int32_t w = t * 256 / duration;
  Picture out(a.width, a.height);
  for (size_t i = 0; i < out.rgb.size(); ++i)
    out.rgb[i] = uint8_t((a.rgb[i] * (256 - w) + b.rgb[i] * w) / 256);
  return out;
}

// Five digits, or six in a run of more than 99,999 steps.
std::string FrameName(int k, int digits = 5) {
  char name[32];
  std::snprintf(name, sizeof name, "frame-%0*d.png", digits, k);
  return name;
}

const char* const kSymbols[] = {"OrvFade",     "OrvWipeUp",    "OrvWipeDown",
                                "OrvWipeLeft", "OrvWipeRight", "OrvColor"};

// ---- what the module offers ----

TEST_F(OrvplayTest, HelpAndList) {
  Result help = Run({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("usage: orvplay"), std::string::npos);
  Result version = Run({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out, "orvplay " ORV_VERSION "\n");

  Result list = Run({"--list"});
  ASSERT_EQ(list.code, 0) << list.err;
  // One line per registry entry, in registration order, with its defaults.
  std::istringstream lines(list.out);
  std::string header, line;
  std::getline(lines, header);
  EXPECT_NE(header.find("symbol"), std::string::npos);
  const char* const names[] = {"OrvFade",      "OrvWipe Up",    "OrvWipe Down",
                               "OrvWipe Left", "OrvWipe Right", "OrvColor"};
  static_assert(std::size(names) == std::size(kSymbols));
  for (size_t i = 0; i < std::size(kSymbols); ++i) {
    ASSERT_TRUE(std::getline(lines, line)) << "entry " << i;
    EXPECT_EQ(line.rfind(kSymbols[i], 0), 0u) << line;
    EXPECT_NE(line.find(names[i]), std::string::npos) << line;
    EXPECT_NE(line.find("Orv Transition Pack 1"), std::string::npos) << line;
    EXPECT_NE(line.find("2000 ms"), std::string::npos) << line;
    EXPECT_EQ(line.substr(line.size() - 2), "64") << line;
  }
  EXPECT_FALSE(std::getline(lines, line)) << "extra line: " << line;
}

TEST_F(OrvplayTest, TransitionsAreFoundBySymbolOrDisplayNameInAnyCase) {
  const std::pair<const char*, const char*> cases[] = {{"OrvWipeUp", "OrvWipe Up"},
                                                       {"orvwipe up", "OrvWipe Up"},
                                                       {"ORVWIPEDOWN", "OrvWipe Down"},
                                                       {"wipe-left", "OrvWipe Left"},
                                                       {"OrvWipe_Right", "OrvWipe Right"},
                                                       {"fade", "OrvFade"},
                                                       {"orvcolor", "OrvColor"}};
  for (const auto& [typed, shown] : cases) {
    const Result r = Run({typed, "--no-output", "--duration", "100", "--fps", "10"});
    EXPECT_EQ(r.code, 0) << typed << ": " << r.err;
    EXPECT_EQ(r.out.rfind(std::string(shown) + ": 3 steps", 0), 0u) << typed << ": " << r.out;
  }
  for (const char* typed : {"OrvSpin", "Orv", "wipe", "OrvFadeX"}) {
    const Result r = Run({typed, "--no-output"});
    EXPECT_EQ(r.code, 2) << typed;
    EXPECT_NE(r.err.find(std::string("unknown transition '") + typed + "'"), std::string::npos)
        << r.err;
    for (const char* s : kSymbols) EXPECT_NE(r.err.find(s), std::string::npos) << r.err;
  }
}

// ---- bad input ----

struct Mistake {
  std::vector<std::string> args;
  const char* message;
};

TEST_F(OrvplayTest, CommandLineMistakesAreNamed) {
  const Mistake cases[] = {
      {{"OrvFade", "--depth", "12", "--no-output"}, "--depth: '12' is not one of 8, 16, 24, 32"},
      {{"OrvFade", "--depth", "x", "--no-output"}, "--depth: 'x' is not one of 8, 16, 24, 32"},
      {{"OrvFade", "--duration", "0", "--no-output"}, "--duration must be from 1 to"},
      {{"OrvFade", "--duration", "-5", "--no-output"}, "--duration must be from 1 to"},
      {{"OrvFade", "--duration=2s", "--no-output"}, "--duration: '2s' is not a whole number"},
      {{"OrvFade", "--fps", "0", "--no-output"}, "--fps must be from 1 to"},
      {{"OrvFade", "--fps", "-30", "--no-output"}, "--fps must be from 1 to"},
      {{"OrvFade", "--chunk", "0", "--no-output"}, "--chunk must be from 1 to"},
      {{"OrvFade", "--no-output", "--duration"}, "--duration needs a value"},
      {{"OrvFade", "--speed", "2", "--no-output"}, "unknown option --speed"},
      {{"OrvFade", "--list=1"}, "--list takes no value"},
      {{"OrvFade", "--rect", "1,2,3", "--no-output"}, "--rect needs 4 whole numbers"},
      {{"OrvFade", "--rect", "1,2,3,4,5", "--no-output"}, "--rect needs 4 whole numbers"},
      {{"OrvFade", "--rect", "a,b,c,d", "--no-output"}, "--rect: 'a' is not a whole number"},
      {{"OrvColor", "--color", "purple", "--no-output"},
       "--color: 'purple' is not one of red, green, blue"},
      {{"OrvFade", "--from", "a.png", "--no-output"}, "--from and --to go together"},
      {{"OrvFade", "--out", "x.jpg"}, "the name must end in .gif or .png or .mp4 or .webm or .mkv"},
      {{"OrvFade", "--out", "x.webm", "--lossless"}, "--lossless is for --out FILE.mp4"},
      {{"--all", "--out-dir", "d", "--lossless"}, "--lossless is for one transition's"},
      {{"OrvFade"}, "nothing to write"},
      {{"OrvFade", "OrvColor", "--no-output"}, "one transition at a time"},
      {{"--no-output"}, "name a transition"},
      {{"--all"}, "--all needs --out-dir DIR"},
      {{"--all", "OrvFade", "--out-dir", "d"}, "--all plays every transition; name none"},
      {{"--all", "--out-dir", "d", "--out", "x.gif"}, "--out and --frames are for one transition"},
      {{"OrvFade", "--out-dir", "d"}, "--out-dir goes with --all"},
      {{"--list", "OrvFade"}, "--list takes no transition"},
      {{"--version", "extra"}, "unexpected argument 'extra' after --version"},
      {{"--help", "OrvFade"}, "unexpected argument 'OrvFade' after --help"},
      {{"--version", "--list"}, "--version goes alone"},
      // Numbers are whole and in range; nothing wraps or trails.
      {{"OrvFade", "--duration", "4294967297", "--no-output"},
       "--duration must be from 1 to 600000, not 4294967297"},
      {{"OrvFade", "--fps", "99999999999999999999", "--no-output"}, "--fps must be from 1 to"},
      {{"OrvFade", "--fps", "30x", "--no-output"}, "--fps: '30x' is not a whole number"},
      {{"OrvFade", "--chunk", " 8", "--no-output"}, "--chunk: ' 8' is not a whole number"},
      {{"OrvFade", "--fps", "30", "--fps", "30", "--no-output"}, "--fps is given twice"},
      {{"OrvFade", "--out", "--frames", "f"}, "--out needs a value"},
      {{"OrvFade", "--out", ".gif"}, "--out .gif: the name needs a stem before .gif"},
      {{"OrvFade", "--out", "d/.PNG"}, "--out d/.PNG: the name needs a stem before .png"},
      {{"OrvFade", "--force", "--no-output"}, "--force is for --frames and --out-dir"},
      {{"OrvFade", "--no-output", "--out", "x.gif"}, "--no-output writes nothing"},
      {{"OrvFade", "--frames", "f", "--no-output"}, "--no-output writes nothing"},
      {{"--all", "--no-output", "--out-dir", "d"}, "--no-output writes nothing"},
      // These need the module's list or the picture, so they come later.
      {{"OrvFade", "--color", "red", "--no-output"}, "--color is for OrvColor only"},
      {{"OrvFade", "--rect", "0,0,361,640", "--no-output"},
       "--rect 0,0,361,640 lies outside the 640x360 picture"},
      {{"OrvFade", "--rect", "-1,0,10,10", "--no-output"}, "lies outside the 640x360 picture"},
      {{"OrvFade", "--rect", "0,700,10,710", "--no-output"}, "lies outside"},
      {{"OrvFade", "--rect", "10,10,10,20", "--no-output"}, "--rect 10,10,10,20 is empty"},
      {{"OrvFade", "--rect", "10,30,20,20", "--no-output"}, "is empty"},
      {{"OrvWipeUp", "--duration", "600000", "--chunk", "4096", "--no-output"},
       "--duration 600000 is too long for a 640x360 picture with chunk 4096"},
  };
  // orvhost reads its command line the same way.
  const Mistake hostCases[] = {
      {{"options", "--color", "4294967297"},
       "--color must be from -2147483648 to 4294967295, not 4294967297"},
      {{"options", "--color"}, "--color needs a value"},
      {{"options", "--color", "1", "--color", "2"}, "--color is given twice"},
      {{"options", "--script", "click 1099; enter"},
       "--script: 'click 1099' matches no control of dialog 119"},
      {{"classes", "extra"}, "unexpected argument 'extra' after classes"},
      {{"transitions", "--out", "x.png"}, "unknown option --out; no option is taken here"},
      {{"classes", "--bogus"}, "unknown option --bogus; no option is taken here"},
      {{"--version", "--version"}, "unknown option --version; no option is taken here"},
      // Every output is a PNG, so its name says so.
      {{"thumbnail", "--out", "t.mp4"}, "--out t.mp4: the name must end in .png"},
      {{"about", "--out", "x.gif"}, "--out x.gif: the name must end in .png"},
      {{"options", "--out", "o"}, "--out o: the name must end in .png"},
      {{"spin"}, "unknown command 'spin'"},
      {{"thumbnail", "--out", "t.png", "--zoom", "4294967297"},
       "--zoom must be from 1 to 16, not 4294967297"},
      {{"thumbnail", "--out", "t.png", "--depth", "12"}, "--depth: '12' is not one of 8, 16, 24"},
      {{"thumbnail", "--out", "t.png", "--size", "100000x100000"},
       "--size must be from 1 to 16384, not 100000"},
      {{"thumbnail", "--out", "t.png", "--size", "60x40x2"}, "--size needs 2 whole numbers"},
      {{"thumbnail", "--out", "t.png", "--size", "16384x16384", "--zoom", "16"},
       "262144 x 262144 is larger than the 16384 x 16384 limit"},
      {{"thumbnail", "--out", "t.png", "--rect", "0,0,9000,9000"},
       "9000 x 9000 has 81000000 pixels, more than the limit of 67108864"},
      {{"thumbnail", "--out", ".png"}, "--out .png: the name needs a stem"},
      {{"thumbnail"}, "thumbnail needs --out FILE.png"},
  };
  for (const auto& [program, table] :
       {std::pair{ORVPLAY_PATH, std::span<const Mistake>(cases)},
        std::pair{ORVHOST_PATH, std::span<const Mistake>(hostCases)}}) {
    for (const Mistake& c : table) {
      std::string joined = program;
      for (const auto& a : c.args) joined += " " + a;
      SCOPED_TRACE(joined);
      const Result r = Exec(program, c.args);
      EXPECT_EQ(r.code, 2);
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
      EXPECT_EQ(r.out, "");
    }
  }
  EXPECT_EQ(Files(), std::vector<std::string>{}) << "a failed run left files behind";
  // The colour option is the raw media word: any 32-bit value, signed or not.
  for (const char* word : {"4294967295", "-1", "+7"})
    EXPECT_EQ(Host({"options", "--color", word}).code, 0) << word;
}

TEST_F(OrvplayTest, BadPicturesAreNamedAndLeaveNoFile) {
  WritePng("a.png", Random(20, 10, 1));
  WritePng("small.png", Random(19, 10, 2));
  std::ofstream(dir / "text.png") << "this is not a picture";
  {
    // A real PNG of a.png's size, cut short inside its pixel data.
    const std::vector<uint8_t> bytes = orvplay::EncodePng(Random(20, 10, 3));
    std::ofstream(dir / "cut.png", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size() / 2));
  }
  std::ofstream(dir / "empty.png");
  const std::vector<std::string> before = Files();

  const struct {
    const char* from;
    const char* to;
    const char* message;
  } cases[] = {
      {"a.png", "missing.png", "cannot open missing.png: No such file or directory"},
      {"missing.png", "a.png", "cannot open missing.png: No such file or directory"},
      {"a.png", "text.png", "picture text.png is not a PNG file"},
      {"empty.png", "a.png", "picture empty.png is not a PNG file"},
      {"cut.png", "a.png", "picture cut.png is damaged"},
      {"a.png", "small.png", "the pictures differ in size: a.png is 20x10, small.png is 19x10"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.from) + " -> " + c.to);
    for (const char* out : {"out.gif", "out.png"}) {
      const Result r = Run({"OrvFade", "--from", c.from, "--to", c.to, "--out", out});
      EXPECT_EQ(r.code, 1);
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    const Result r = Run({"OrvFade", "--from", c.from, "--to", c.to, "--frames", "frames"});
    EXPECT_EQ(r.code, 1);
  }
  // Nothing new; a --frames run that failed may leave its empty folder at most.
  std::vector<std::string> after = Files();
  std::erase(after, "frames");
  EXPECT_EQ(after, before);
}

TEST_F(OrvplayTest, AnUnwritableOutputFailsCleanly) {
  const Result r = Run({"OrvFade", "--duration", "100", "--out", "no-such-folder/x.gif"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("cannot write no-such-folder/x.gif"), std::string::npos) << r.err;
  EXPECT_EQ(Files(), std::vector<std::string>{});
}

// Every kind of --out, and with --lossless where that changes its encoder,
// takes the narrowest pictures, a column or a row of pixels and slivers of
// two or three; the videos through a kind's lossless encoder end on the --to
// picture itself.
TEST_F(OrvplayTest, EveryOutputKindTakesTheNarrowestPictures) {
  for (const auto& [w, h] :
       {std::pair{1, 40}, std::pair{40, 1}, std::pair{1, 1}, std::pair{2, 3}, std::pair{40, 2}}) {
    const Picture a = Random(w, h, 5), b = Random(w, h, 6);
    WritePng("a.png", a);
    WritePng("b.png", b);
    for (const orvplay::OutputKind& kind : orvplay::kOutputKinds)
      for (const bool lossless : {false, true}) {
        if (lossless && (!kind.TakesLossless() || kind.lossless == kind.codec)) continue;
        const std::string name = std::string("out") + kind.extension;
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " " + name +
                     (lossless ? " --lossless" : ""));
        EXPECT_EQ(kind.IsVideo(), kind.container != nullptr) << "a video row names both";
        EXPECT_TRUE(kind.IsVideo() || !kind.lossless) << "--lossless is a video's";
        if (kind.IsVideo() && !orvplay::kVideoBuilt) continue;
        std::vector<std::string> args{"OrvWipeLeft", "--from", "a.png",      "--to", "b.png",
                                      "--out",       name,     "--duration", "100"};
        if (lossless) args.push_back("--lossless");
        const Result r = Run(args);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(Files(), (std::vector<std::string>{"a.png", "b.png", name}));
#ifdef ORVPLAY_VIDEO
        if (kind.IsVideo() && r.code == 0) {
          const videotest::Video v = videotest::DecodeVideo((dir / name).string());
          EXPECT_EQ(v.frames.size(), 5u + 1) << "five steps and the frame after Finish";
          if (&orvplay::CodecFor(kind, lossless) == kind.lossless && !v.frames.empty()) {
            EXPECT_TRUE(v.frames.back() == b);
          }
        }
#endif
        fs::remove(dir / name);
      }
  }
}

#ifdef ORVPLAY_VIDEO
// The encoders are a library orvplay loads beside itself, only for a video.
TEST_F(OrvplayTest, OnlyAVideoNeedsTheVideoLibrary) {
  const fs::path bin = fs::path(ORVPLAY_PATH).parent_path();
  fs::create_directory(dir / "alone");
  for (const char* name : {"orvplay", "ORVPACK1.x32", "liborvplatform.so"})
    fs::copy_file(bin / name, dir / "alone" / name);
  const std::string alone = (dir / "alone" / "orvplay").string();
  EXPECT_EQ(Exec(alone, {"OrvFade", "--duration", "100", "--out", "x.gif"}).code, 0);
  const Result r = Exec(alone, {"OrvFade", "--duration", "100", "--out", "x.mp4"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("x.mp4: cannot load orvplay's video library"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "x.mp4"));
}
#endif

TEST_F(OrvplayTest, ASignalStopsARunAndLeavesTheFilesAsTheyWere) {
  // An earlier gallery with a file of the user's beside it.
  fs::create_directory(dir / "g");
  std::ofstream(dir / "g" / "OrvFade.gif") << "old animation";
  std::ofstream(dir / "g" / "index.html") << "old page";
  std::ofstream(dir / "g" / "mine.txt") << "mine";
  const auto before = Snapshot();
  const std::vector<std::string> longRun{"--duration", "600000", "--fps", "1000"};
  const struct {
    int signal, code;
    std::vector<std::string> args;
    bool frames;  // wait for frames to be written before the signal
  } cases[] = {
      {SIGINT, 130, {"OrvFade", "--out", "long.gif", "--frames", "o/a/b/c"}, true},
      {SIGTERM, 143, {"--all", "--out-dir", "g", "--force"}, false},
      {SIGHUP, 129, {"OrvWipeUp", "--frames", "g", "--force"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(strsignal(c.signal));
    std::vector<std::string> args = c.args;
    args.insert(args.end(), longRun.begin(), longRun.end());
    const pid_t pid = Spawn(ORVPLAY_PATH, args);
    ASSERT_GT(pid, 0);
    // Once the run has staged its outputs (and written frames, if it makes any).
    auto going = [&] {
      bool staged = false, framed = false;
      for (const std::string& name : Files()) {
        staged |= name.find(".orv") != std::string::npos;
        framed |= name.find(FrameName(3, 6)) != std::string::npos;  // 600,002 steps
      }
      return staged && (framed || !c.frames);
    };
    for (int i = 0; i < 3000 && !going(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(going()) << "the run did not get going";
    ::kill(pid, c.signal);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.code);
    EXPECT_EQ(Snapshot(), before);
  }
}

// The tools' promises, each shown as a user meets it.

// A PNG of a signature, a header declaring width x height RGB pixels, no
// pixel data and an end: 57 bytes, and `padding` more in a private chunk, so
// that the file can be long enough for what it declares.
std::string HeaderOnlyPng(uint32_t width, uint32_t height, size_t padding = 0) {
  auto chunk = [](const char* type, const std::string& data) {
    std::string c = type + data;
    const uint32_t crc =
        uint32_t(::crc32(0, reinterpret_cast<const Bytef*>(c.data()), uInt(c.size())));
    auto be = [](uint32_t v) {
      return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    };
    return be(uint32_t(data.size())) + c + be(crc);
  };
  const std::string header = std::string{char(width >> 24),
                                         char(width >> 16),
                                         char(width >> 8),
                                         char(width),
                                         char(height >> 24),
                                         char(height >> 16),
                                         char(height >> 8),
                                         char(height),
                                         8,
                                         2,
                                         0,
                                         0,
                                         0};
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) +
         (padding ? chunk("prVt", std::string(padding, '\0')) : "") + chunk("IDAT", "") +
         chunk("IEND", "");
}

TEST_F(OrvplayTest, LimitsAndOutputsAreCheckedBeforeAnyWork) {
  std::ofstream(dir / "huge.png", std::ios::binary) << HeaderOnlyPng(8192, 8192);
  std::ofstream(dir / "wide.png", std::ios::binary) << HeaderOnlyPng(100000, 100000);
  std::ofstream(dir / "many.png", std::ios::binary) << HeaderOnlyPng(8193, 8193);
  // Long enough for what they declare: only decoding would find them empty.
  std::ofstream(dir / "big.png", std::ios::binary) << HeaderOnlyPng(8192, 8192, 200000);
  std::ofstream(dir / "half.png", std::ios::binary) << HeaderOnlyPng(8192, 4096, 200000);
  WritePng("a.png", Random(8, 8, 1));
  fs::create_symlink("loop.gif", dir / "loop.gif");
  const std::vector<std::string> before = Files();
  // Runs that would take hours if they got going.
  const std::vector<std::string> endless{"--duration", "600000", "--fps", "1000"};
  const struct {
    const char* program;
    std::vector<std::string> args;
    int code;
    std::string message;
  } cases[] = {
      {ORVPLAY_PATH,
       {"OrvFade", "--from", "huge.png", "--to", "a.png", "--out", "x.gif"},
       1,
       "huge.png: 57 bytes are too few for the 8192 x 8192 pixels it declares"},
      {ORVPLAY_PATH,
       {"OrvFade", "--from", "a.png", "--to", "wide.png", "--frames", "f"},
       1,
       "wide.png: 100000 x 100000 is larger than the 16384 x 16384 limit"},
      // What the headers' sizes decide comes before any decoding.
      {ORVPLAY_PATH,
       {"OrvFade", "--from", "big.png", "--to", "half.png", "--out", "x.gif"},
       1,
       "the pictures differ in size: big.png is 8192x8192, half.png is 8192x4096"},
      {ORVPLAY_PATH,
       {"OrvFade", "--from", "big.png", "--to", "big.png", "--rect", "0,0,10,8193", "--frames",
        "f"},
       2,
       "--rect 0,0,10,8193 lies outside the 8192x8192 picture"},
      {ORVPLAY_PATH,
       {"OrvFade", "--from", "big.png", "--to", "big.png", "--out", "x.png"},
       2,
       "--duration 600000 is too long for a 8192x8192 picture"},
      {ORVPLAY_PATH,
       {"OrvFade", "--from", "many.png", "--to", "a.png", "--no-output"},
       1,
       "many.png: 8193 x 8193 has 67125249 pixels, more than the limit of 67108864"},
      {ORVPLAY_PATH,
       {"OrvFade", "--out", "no-such/x.gif"},
       1,
       "cannot write no-such/x.gif: No such file or directory"},
      {ORVPLAY_PATH, {"OrvFade", "--frames", "a.png"}, 2, "--frames a.png: it is a file"},
      {ORVPLAY_PATH, {"OrvFade", "--out", std::string(256, 'n') + ".gif"}, 1, "File name too long"},
      {ORVPLAY_PATH,
       {"OrvFade", "--out", "loop.gif"},
       1,
       "cannot write loop.gif: Too many levels of symbolic links"},
      {ORVHOST_PATH,
       {"thumbnail", "--out", "no-such/t.png", "--size", "16384x4096"},
       1,
       "cannot write no-such/t.png: No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    std::vector<std::string> args = c.args;
    if (c.program == std::string(ORVPLAY_PATH))
      args.insert(args.end(), endless.begin(), endless.end());
    const Result r = Exec(c.program, args);
    EXPECT_EQ(r.code, c.code);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
#if !defined(__SANITIZE_ADDRESS__)
    // Nothing the size of the pictures was taken: 8192 x 8192 is 192 MiB.
    EXPECT_LT(r.peakKiB, 100 * 1024);
#endif
  }
  EXPECT_EQ(Files(), before);
  // A name as long as the folder takes is fine: the temporary one is shorter.
  const std::string longest = std::string(251, 'n') + ".gif";
  EXPECT_EQ(Run({"OrvFade", "--duration", "100", "--out", longest}).code, 0);
  EXPECT_TRUE(fs::is_regular_file(dir / longest));
  EXPECT_EQ(Files().size(), before.size() + 1);
}

TEST_F(OrvplayTest, AFolderThatHoldsFilesIsUsedOnlyWithForceAndOnlyTheToolsSetIsReplaced) {
  fs::create_directory(dir / "v");
  for (int k = 0; k < 200; ++k) std::ofstream(dir / "v" / FrameName(k)) << "user's " << k;
  std::ofstream(dir / "v" / "notes.txt") << "mine";
  fs::create_directory(dir / "g");
  std::ofstream(dir / "g" / "OrvFade.gif") << "old";
  std::ofstream(dir / "g" / "mine.txt") << "mine";
  std::ofstream(dir / "file.txt") << "text";
  const auto before = Snapshot();
  const std::vector<std::string> quick{"--duration", "100", "--fps", "20"};
  const struct {
    std::vector<std::string> args;
    const char* message;
  } refused[] = {
      {{"OrvFade", "--frames", "v"}, "--frames v already holds 201 file(s)"},
      {{"--all", "--out-dir", "g"}, "--out-dir g already holds 2 file(s)"},
      {{"OrvFade", "--frames", "file.txt", "--force"},
       "--frames file.txt: it is a file, not a folder"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.message);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), quick.begin(), quick.end());
    const Result r = Run(args);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(Snapshot(), before);
  }
  EXPECT_NE(Run({"OrvFade", "--frames", "v"}).err.find("--force"), std::string::npos);

  // With --force the tool's own set goes whole (steps at 0, 50, 100, 150 ms);
  // every other file stays.
  std::vector<std::string> args{"OrvFade", "--frames", "v", "--force"};
  args.insert(args.end(), quick.begin(), quick.end());
  ASSERT_EQ(Run(args).code, 0);
  std::vector<std::string> v;
  for (const auto& e : fs::directory_iterator(dir / "v")) v.push_back(e.path().filename());
  std::sort(v.begin(), v.end());
  EXPECT_EQ(v, (std::vector<std::string>{"final.png", FrameName(0), FrameName(1), FrameName(2),
                                         FrameName(3), "notes.txt"}));
  EXPECT_NO_THROW(ReadPng(dir / "v" / FrameName(3)));
  EXPECT_EQ(Slurp(dir / "v" / "notes.txt"), "mine");
  args = {"--all", "--out-dir", "g", "--force"};
  args.insert(args.end(), quick.begin(), quick.end());
  ASSERT_EQ(Run(args).code, 0);
  // Per transition a GIF, a contact sheet and (when built) a video; the page and mine.txt.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "g"), {}),
            std::ssize(kSymbols) * (orvplay::kVideoBuilt ? 3 : 2) + 2);
  EXPECT_NE(Slurp(dir / "g" / "OrvFade.gif"), "old");
  EXPECT_EQ(Slurp(dir / "g" / "mine.txt"), "mine");

  // --out replaces a file; through a link, the file the link points to.
  fs::create_directory(dir / "real");
  std::ofstream(dir / "real" / "x.gif") << "old";
  fs::create_symlink("real/x.gif", dir / "link.gif");
  args = {"OrvFade", "--out", "link.gif"};
  args.insert(args.end(), quick.begin(), quick.end());
  ASSERT_EQ(Run(args).code, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "link.gif"));
  EXPECT_EQ(Slurp(dir / "real" / "x.gif").substr(0, 6), "GIF89a");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "real"), {}), 1);
}

TEST_F(OrvplayTest, AMoveThatFailsHalfwayPutsEveryOutputBack) {
  ASSERT_EQ(Run({"OrvFade", "--duration", "300", "--fps", "20", "--frames", "v"}).code, 0);
  // One name the new set needs is taken by a folder (of the user's).
  fs::remove(dir / "v" / FrameName(5));
  fs::create_directories(dir / "v" / FrameName(5) / "inside");
  std::ofstream(dir / "keep.gif") << "the user's animation";
  const auto before = Snapshot();
  // A file beside the set is replaced only with it.
  for (const std::vector<std::string>& beside :
       {std::vector<std::string>{}, {"--out", "keep.gif"}, {"--out", "new.gif"}}) {
    SCOPED_TRACE(beside.empty() ? "the set alone" : beside[1]);
    std::vector<std::string> args{"OrvWipeUp", "--duration", "300", "--fps",
                                  "20",        "--frames",   "v",   "--force"};
    args.insert(args.end(), beside.begin(), beside.end());
    const Result r = Run(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot move " + FrameName(5) + " into v: Is a directory"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(Snapshot(), before) << "an output was replaced, sets mixed or a hidden file left";
  }
}

// A kill at every rename of a run that replaces a frame set and a file
// together, the next run into the folder then cleaning up: each output ends
// whole, and one new beside one old only at the single instant between the
// two outputs' points of no return.
TEST_F(OrvplayTest, AKillWhileOutputsMoveInMixesThemAtOneInstantOnly) {
  if (!fs::exists("/usr/bin/strace")) GTEST_SKIP() << "no /usr/bin/strace to kill at each rename";
  const std::vector<std::string> timing{"--duration", "300", "--fps", "20"};
  auto play = [&](std::vector<std::string> args, const std::vector<std::string>& extra = {}) {
    args.insert(args.end(), timing.begin(), timing.end());
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  auto state = [&] {
    std::map<std::string, std::string> w;
    for (const auto& [name, bytes] : Snapshot())
      if (name.starts_with("w/")) w[name] = bytes;
    return w;
  };
  auto part = [](const std::map<std::string, std::string>& s, const std::string& prefix) {
    std::map<std::string, std::string> p;
    for (const auto& [name, bytes] : s)
      if (name.starts_with(prefix)) p[name] = bytes;
    return p;
  };
  const std::vector<std::string> replace =
      play({"OrvFade", "--frames", "w/v", "--force", "--out", "w/keep.gif"});
  ASSERT_EQ(Run(play({"OrvWipeUp", "--frames", "w/v", "--out", "w/keep.gif"})).code, 0);
  fs::copy(dir / "w", dir / "old", fs::copy_options::recursive);
  const auto before = state();
  ASSERT_EQ(Run(replace).code, 0);
  const auto after = state();
  ASSERT_NE(part(before, "w/v/"), part(after, "w/v/"));
  ASSERT_NE(before.at("w/keep.gif"), after.at("w/keep.gif"));
  std::ofstream(dir / "bad.png", std::ios::binary) << HeaderOnlyPng(1, 1, 64);

  std::vector<std::string> strace{"-f",        "-qq", "-o",
                                  "/dev/null", "-e",  "trace=rename,renameat,renameat2"};
  int mixed = 0, killed = 0;
  for (int n = 1;; ++n) {
    SCOPED_TRACE("killed at rename " + std::to_string(n));
    fs::remove_all(dir / "w");
    fs::copy(dir / "old", dir / "w", fs::copy_options::recursive);
    std::vector<std::string> args = strace;
    args.insert(args.end(), {"-e",
                             "inject=rename,renameat,renameat2:error=EINTR:signal=SIGKILL:when=" +
                                 std::to_string(n),
                             ORVPLAY_PATH});
    args.insert(args.end(), replace.begin(), replace.end());
    if (Exec("/usr/bin/strace", args).code != 128 + SIGKILL) break;  // past the last rename
    ++killed;
    const Result next = Run(play({"OrvFade", "--frames", "w/v", "--force", "--out", "w/keep.gif",
                                  "--from", "bad.png", "--to", "bad.png"}));
    EXPECT_EQ(next.code, 1) << next.err;
    const auto s = state();
    const bool framesNew = part(s, "w/v/") == part(after, "w/v/");
    const bool fileNew = s.at("w/keep.gif") == after.at("w/keep.gif");
    EXPECT_TRUE(framesNew || part(s, "w/v/") == part(before, "w/v/")) << "a frame set mixed";
    EXPECT_TRUE(fileNew || s.at("w/keep.gif") == before.at("w/keep.gif"));
    EXPECT_EQ(s.size(), before.size()) << "a hidden name left";
    mixed += framesNew != fileNew;
  }
  EXPECT_GT(killed, 20);
  EXPECT_EQ(mixed, 1);
}

// The kernel function the pid waits in once its name ends in `wchan`; "" if
// the pid ends first.
std::string WaitsIn(pid_t pid, const std::string& wchan) {
  const std::string path = "/proc/" + std::to_string(pid) + "/wchan";
  for (std::string now;;) {
    std::ifstream(path) >> now;
    if (now.ends_with(wchan)) return wchan;
    siginfo_t ended{};
    if (::waitid(P_PID, id_t(pid), &ended, WEXITED | WNOHANG | WNOWAIT) != 0 || ended.si_pid != 0)
      return "";
    std::this_thread::yield();
  }
}

TEST_F(OrvplayTest, ASignalEndsEveryWait) {
  const std::vector<std::string> endless{"--duration", "600000"};
  const struct {
    const char* program;
    std::string setup;
    std::vector<std::string> args;
    const char* wchan;  // where it waits: a pipe's open or write
    std::vector<int> signals;
    int code;
  } cases[] = {
      {ORVPLAY_PATH, "", {"OrvFade", "--out", "p.gif"}, "wait_for_partner", {SIGINT}, 130},
      // The reader never reads: the pipe fills.
      {ORVPLAY_PATH, "", {"OrvFade", "--out", "r.gif"}, "pipe_write", {SIGTERM}, 143},
      {ORVPLAY_PATH,
       "",
       {"OrvFade", "--from", "p.gif", "--to", "b.png", "--frames", "f"},
       "wait_for_partner",
       {SIGHUP},
       129},
      {ORVHOST_PATH, "", {"about", "--out", "p.png"}, "wait_for_partner", {SIGTERM}, 143},
      // Ignored at the start (nohup), SIGHUP stays ignored; SIGINT then stops it.
      {ORVPLAY_PATH,
       "trap '' HUP;",
       {"OrvFade", "--out", "p.gif"},
       "wait_for_partner",
       {SIGHUP, SIGINT},
       130},
  };
  ASSERT_EQ(::mkfifo((dir / "p.gif").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo((dir / "r.gif").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo((dir / "p.png").c_str(), 0644), 0);
  WritePng("b.png", Random(4, 4, 1));
  const int reader = ::open((dir / "r.gif").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const auto before = Snapshot();
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    if (c.program == std::string(ORVPLAY_PATH))
      args.insert(args.end(), endless.begin(), endless.end());
    SCOPED_TRACE(c.setup + " " + args[0] + " " + args[1] + " " + args[2]);
    const pid_t pid = Start(c.program, args, c.setup);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(WaitsIn(pid, c.wchan), c.wchan);
    for (int signal : c.signals) ::kill(pid, signal);
    const Result r = Wait(pid);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(std::string("stopped by ") + strsignal(c.signals.back())),
              std::string::npos)
        << r.err;
    EXPECT_EQ(Snapshot(), before);
  }
  ::close(reader);
}

// A picture that cannot be read is named before any output is opened, so a
// pipe as --out never waits for its reader first; one pipe cannot be both
// pictures. A run that waits on a pipe here has failed.
TEST_F(OrvplayTest, InputsAreCheckedBeforeAnyOutputOpens) {
  ASSERT_EQ(::mkfifo((dir / "p.gif").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo((dir / "q").c_str(), 0644), 0);
  WritePng("a.png", Random(4, 4, 1));
  std::ofstream(dir / "text.png") << "no picture";
  std::ofstream(dir / "huge.png", std::ios::binary) << HeaderOnlyPng(8192, 8192);
  const auto before = Snapshot();
  const struct {
    std::vector<std::string> args;
    int code;
    const char* message;
  } cases[] = {
      {{"--from", "missing.png", "--to", "a.png", "--out", "p.gif"},
       1,
       "cannot open missing.png: No such file or directory"},
      {{"--from", "a.png", "--to", "missing.png", "--out", "p.gif"},
       1,
       "cannot open missing.png: No such file or directory"},
      {{"--from", "text.png", "--to", "a.png", "--out", "p.gif"},
       1,
       "picture text.png is not a PNG file"},
      {{"--from", "huge.png", "--to", "a.png", "--out", "p.gif"},
       1,
       "huge.png: 57 bytes are too few"},
      {{"--from", "q", "--to", "./q", "--out", "x.gif"},
       2,
       "--from q and --to ./q are the same pipe or device"},
      {{"--from", "q", "--to", "q", "--no-output"}, 2, "are the same pipe or device"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"OrvFade"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(args[2] + " " + args[4] + " " + args[5]);
    const pid_t pid = Start(ORVPLAY_PATH, args);
    ASSERT_GT(pid, 0);
    const bool waited = WaitsIn(pid, "wait_for_partner") != "";
    if (waited) ::kill(pid, SIGKILL);
    const Result r = Wait(pid);
    EXPECT_FALSE(waited) << "it waited on a pipe";
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(Snapshot(), before);
  }
}

// A picture is read no further than its rows: its deflate stream may go on
// for gigabytes past them. Here it goes on from a pipe the test holds open,
// so a run that reads past the rows waits there.
TEST_F(OrvplayTest, APictureIsReadNoFurtherThanItsRows) {
  const Picture from = Random(64, 48, 8);
  std::string raw, more(32768, '\0');
  for (int32_t y = 0; y < from.height; ++y)
    raw += '\0' + std::string(reinterpret_cast<const char*>(from.At(0, y)), 64 * 3);
  std::mt19937 rng(3);
  for (char& c : more) c = char(rng());
  std::string deflated(deflateBound(nullptr, uLong(raw.size() + more.size())) + 64, '\0');
  z_stream z{};
  ASSERT_EQ(deflateInit(&z, 6), Z_OK);
  z.next_out = reinterpret_cast<Bytef*>(deflated.data());
  z.avail_out = uInt(deflated.size());
  z.next_in = reinterpret_cast<Bytef*>(raw.data());
  z.avail_in = uInt(raw.size());
  ASSERT_EQ(deflate(&z, Z_NO_FLUSH), Z_OK);
  z.next_in = reinterpret_cast<Bytef*>(more.data());
  z.avail_in = uInt(more.size());
  ASSERT_EQ(deflate(&z, Z_SYNC_FLUSH), Z_OK);
  deflated.resize(z.total_out);
  deflateEnd(&z);
  // The signature and IHDR, then an IDAT chunk as long as a chunk can be.
  const std::string bytes = HeaderOnlyPng(64, 48).substr(0, 33) + "\x7f\xff\xff\xffIDAT" + deflated;
  ASSERT_LT(bytes.size(), 65536u) << "the pipe holds it all";
  ASSERT_EQ(::mkfifo((dir / "from.png").c_str(), 0644), 0);
  const int pipe = ::open((dir / "from.png").c_str(), O_RDWR);
  ASSERT_GE(pipe, 0);
  ASSERT_EQ(::write(pipe, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  WritePng("to.png", Random(64, 48, 9));
  auto want = Snapshot();
  const pid_t pid = Start(ORVPLAY_PATH, {"OrvFade", "--from", "from.png", "--to", "to.png",
                                         "--duration", "100", "--frames", "f"});
  ASSERT_GT(pid, 0);
  const bool waited = WaitsIn(pid, "pipe_read") != "";
  if (waited) ::kill(pid, SIGKILL);
  const Result r = Wait(pid);
  ::close(pipe);
  EXPECT_FALSE(waited) << "it read past the rows";
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(ReadPng(dir / "f" / FrameName(0)) == from);
  auto got = Snapshot();
  for (const char* name : {"f", "f/final.png"}) want[name] = got[name];
  for (int k = 0; k < 5; ++k) want["f/" + FrameName(k)] = got["f/" + FrameName(k)];
  EXPECT_EQ(got, want);
}

// A run works through the folder it opened: moved, or its name taken by a
// link, while the run waits for its first picture on a pipe, the folder gets
// the outputs and keeps nothing hidden; the link's folder is not touched.
TEST_F(OrvplayTest, AFolderMovedDuringARunGetsItsOutputsAndNoLeftovers) {
  const Picture from = Random(8, 6, 1);
  WritePng("b.png", Random(8, 6, 2));
  const std::vector<uint8_t> png = orvplay::EncodePng(from);
  std::vector<std::string> frames{"e/final.png"};
  for (int k = 0; k < 5; ++k) frames.push_back("e/" + FrameName(k));
  const struct {
    std::vector<std::string> output;
    bool link;  // d becomes a link to another folder
    std::vector<std::string> written;
  } cases[] = {
      {{"--frames", "d"}, false, frames},
      {{"--frames", "d"}, true, frames},
      {{"--out", "d/x.gif"}, false, {"e/x.gif"}},
      {{"--out", "d/x.gif"}, true, {"e/x.gif"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output[1] + (c.link ? ", d then a link" : ", d moved"));
    for (const char* name : {"d", "e", "other", "p"}) fs::remove_all(dir / name);
    fs::create_directory(dir / "d");
    ASSERT_EQ(::mkfifo((dir / "p").c_str(), 0644), 0);
    std::vector<std::string> args{"OrvFade", "--from", "p", "--to", "b.png", "--duration", "100"};
    args.insert(args.end(), c.output.begin(), c.output.end());
    const pid_t pid = Start(ORVPLAY_PATH, args);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(WaitsIn(pid, "wait_for_partner"), "wait_for_partner");
    fs::rename(dir / "d", dir / "e");
    if (c.link) {
      fs::create_directory(dir / "other");
      fs::create_directory_symlink("other", dir / "d");
    }
    const int pipe = ::open((dir / "p").c_str(), O_WRONLY);
    ASSERT_GE(pipe, 0);
    EXPECT_EQ(::write(pipe, png.data(), png.size()), ssize_t(png.size()));
    ::close(pipe);
    const Result r = Wait(pid);
    EXPECT_EQ(r.code, 0) << r.err;
    std::vector<std::string> want{"b.png", "e", "p"};
    if (c.link) want.insert(want.end(), {"d", "other"});
    want.insert(want.end(), c.written.begin(), c.written.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(Files(), want);
    if (c.written.size() > 1) {
      EXPECT_TRUE(ReadPng(dir / "e" / FrameName(0)) == from);
    }
  }
}

// What a run says goes out before its outputs are in place: when it cannot
// (standard output closed, full, or a pipe that takes nothing until a signal
// stops the run), the exit code says so and every old file is as it was.
TEST_F(OrvplayTest, ARunThatCannotTellWhatItDidLeavesTheFilesAsTheyWere) {
  fs::create_directory(dir / "f");
  fs::create_directory(dir / "g");
  for (const char* name : {"c.gif", "t.png", "f/final.png", "g/index.html"})
    std::ofstream(dir / name) << "old " << name;
  ASSERT_EQ(::mkfifo((dir / "say").c_str(), 0644), 0);
  const int reader = ::open((dir / "say").c_str(), O_RDONLY | O_NONBLOCK);
  const int writer = ::open((dir / "say").c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  ASSERT_GE(writer, 0);
  const std::string full(4096, 'x');
  while (::write(writer, full.data(), full.size()) > 0) {
  }
  const auto before = Snapshot();
  const struct {
    const char* program;
    std::vector<std::string> args;
  } runs[] = {
      {ORVPLAY_PATH, {"OrvFade", "--out", "c.gif", "--duration", "100"}},
      {ORVPLAY_PATH,
       {"OrvFade", "--out", "c.gif", "--frames", "f", "--force", "--duration", "100"}},
      {ORVPLAY_PATH, {"--all", "--out-dir", "g", "--force", "--duration", "100"}},
      {ORVHOST_PATH, {"thumbnail", "--out", "t.png"}},
      {ORVHOST_PATH, {"about", "--out", "t.png"}},
  };
  const struct {
    const char* out;
    int code;
    const char* message;
  } outs[] = {
      {"&-", 1, "cannot write to standard output: Bad file descriptor"},
      {"/dev/full", 1, "cannot write to standard output: No space left on device"},
      {"say", 143, "stopped by Terminated"},
  };
  for (const auto& run : runs) {
    for (const auto& o : outs) {
      SCOPED_TRACE(std::string(run.program) + " " + run.args[0] + " " + run.args[2] + " >" + o.out);
      const pid_t pid = Start(run.program, run.args, "", o.out);
      ASSERT_GT(pid, 0);
      if (o.code == 143) {
        EXPECT_EQ(WaitsIn(pid, "pipe_write"), "pipe_write");
        ::kill(pid, SIGTERM);
      }
      const Result r = Wait(pid);
      EXPECT_EQ(r.code, o.code) << r.err;
      EXPECT_NE(r.err.find(o.message), std::string::npos) << r.err;
      EXPECT_EQ(Snapshot(), before);
    }
  }
  ::close(writer);
  ::close(reader);
}

TEST_F(OrvplayTest, APipeTakesWhatIsWrittenFrontToBackAndAlone) {
  WritePng("b.png", Random(8, 6, 2));
  for (const char* pipe : {"in.png", "out.gif", "out.mp4"})
    ASSERT_EQ(::mkfifo((dir / pipe).c_str(), 0644), 0);
  const struct {
    std::vector<std::string> args;
    int code;
    const char* message;  // for a refusal
    const char* through;  // the pipe the test reads or writes meanwhile
  } cases[] = {
      {{"OrvFade", "--out", "out.mp4"},
       2,
       "out.mp4 is a pipe or device, and .mp4 video goes back",
       nullptr},
      {{"OrvFade", "--out", "out.gif", "--frames", "f"},
       2,
       "--out out.gif is a pipe or device, which cannot be held back until --frames f is ready",
       nullptr},
      {{"OrvFade", "--out", "out.gif"}, 0, "", "out.gif"},
      {{"OrvFade", "--from", "in.png", "--to", "b.png", "--frames", "fr"}, 0, "", "in.png"},
  };
  const auto before = Snapshot();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[2]);
    if (c.args[2] == "out.mp4" && !orvplay::kVideoBuilt) continue;
    std::string read;
    std::thread other([&] {
      if (!c.through) return;
      const bool in = c.through == std::string("in.png");
      std::fstream pipe(dir / c.through,
                        in ? std::ios::out | std::ios::binary : std::ios::in | std::ios::binary);
      if (in)
        pipe << Slurp(dir / "b.png");
      else
        read.assign(std::istreambuf_iterator<char>(pipe), {});
    });
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--duration", "100"});
    const Result r = Run(args);
    other.join();
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    if (c.through && c.through == std::string("out.gif")) {
      EXPECT_EQ(giftest::DecodeGif({read.begin(), read.end()}).width, 640);
    }
  }
  // The picture read from the pipe is the one written into it.
  EXPECT_TRUE(ReadPng(dir / "fr" / "final.png") == ReadPng(dir / "b.png"));
  fs::remove_all(dir / "fr");
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(OrvplayTest, AnOutputOverAnInputOrAnotherOutputIsRefused) {
  WritePng("a.png", Random(8, 6, 1));
  WritePng("b.png", Random(8, 6, 2));
  fs::create_symlink("b.png", dir / "link.png");
  fs::create_directory(dir / "v");
  WritePng("v/" + FrameName(1), Random(8, 6, 3));
  fs::create_symlink("v/" + FrameName(1), dir / "into.png");
  fs::create_directory(dir / "w");
  fs::create_hard_link(dir / "a.png", dir / "w" / "final.png");
  fs::create_directory(dir / "g");
  fs::create_symlink("../b.png", dir / "g" / "link.png");
  WritePng("g/OrvFade.png", Random(8, 6, 4));
  // Pictures where the clean-up of a stopped run's leftovers would go.
  fs::create_directories(dir / "h" / ".orvold-AAAAAA");
  fs::create_directories(dir / "h" / ".orvnew-BBBBBB" / "sub");
  WritePng("h/.orvold-AAAAAA/in.png", Random(8, 6, 5));
  WritePng("h/.orvnew-BBBBBB/sub/in.png", Random(8, 6, 6));
  WritePng(".orvtmp-CCCCCC", Random(8, 6, 7));
  const auto before = Snapshot();
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--from", "a.png", "--to", "b.png", "--out", "b.png"},
       "--out b.png is the same file as --to b.png"},
      {{"--from", "link.png", "--to", "a.png", "--out", "./b.png"},
       "--out ./b.png is the same file as --from link.png"},
      {{"--from", "a.png", "--to", "v/" + FrameName(1), "--frames", "v", "--force"},
       "--frames v: " + FrameName(1) + " is the same file as --to v/" + FrameName(1)},
      {{"--from", "a.png", "--to", "b.png", "--frames", "w", "--force"},
       "--frames w: final.png is the same file as --from a.png"},
      {{"--all", "--from", "g/OrvFade.png", "--to", "g/link.png", "--out-dir", "g", "--force"},
       "--out-dir g: OrvFade.png is the same file as --from g/OrvFade.png"},
      // An output that the other's swap would take away.
      {{"--frames", "new/", "--out", "new/final.png"},
       "--out new/final.png is a file of the set --frames new/ replaces"},
      {{"--frames", "v", "--force", "--out", "into.png"},
       "--out into.png is a file of the set --frames v replaces"},
      // A picture the clean-up of a stopped run's leftovers would take.
      {{"--from", "h/.orvold-AAAAAA/in.png", "--to", "b.png", "--frames", "h"},
       "--from h/.orvold-AAAAAA/in.png is in h/.orvold-AAAAAA, which a stopped run left"},
      {{"--from", "a.png", "--to", "h/.orvnew-BBBBBB/sub/in.png", "--frames", "h/"},
       "--to h/.orvnew-BBBBBB/sub/in.png is in h/.orvnew-BBBBBB"},
      {{"--from", ".orvtmp-CCCCCC", "--to", "b.png", "--out", "x.gif"},
       "/.orvtmp-CCCCCC, which a stopped run left and this run would clean away"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    std::vector<std::string> args = c.args;
    if (args[0] != "--all") args.insert(args.begin(), "OrvFade");
    const Result r = Run(args);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(Snapshot(), before);
  }
}

TEST_F(OrvplayTest, AFolderAnotherRunWritesIntoIsRefused) {
  fs::create_directory(dir / "v");
  std::ofstream(dir / "v" / FrameName(0)) << "old";
  const auto before = Snapshot();
  const int lock = ::open((dir / "v").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"OrvFade", "--frames", "v", "--force"},
        std::vector<std::string>{"--all", "--out-dir", "v", "--force"}}) {
    SCOPED_TRACE(args[1]);
    const Result r = Run(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(args[1] + " v: another run is writing into this folder"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(Snapshot(), before);
  }
  ::close(lock);
  EXPECT_EQ(Run({"OrvFade", "--frames", "v", "--force", "--duration", "100"}).code, 0);
}

// Runs writing single files into one folder at once, to names of their own or
// to one name, all succeed: none takes another's temporary file for a dead
// run's. Started together round after round, so that each run's clean-up of
// the folder meets the others' fresh files; a fault here shows in a few runs
// of a thousand.
TEST_F(OrvplayTest, RunsWritingFilesIntoOneFolderAtOnceAllSucceed) {
  WritePng("a.png", Random(1, 1, 1));
  WritePng("b.png", Random(1, 1, 2));
  const std::vector<std::string> fade{"OrvFade", "--from",     "a.png", "--to",
                                      "b.png",   "--duration", "1",     "--out"};
  const struct {
    const char* program;
    std::vector<std::string> args;
  } runs[] = {
      {ORVPLAY_PATH, {"own1.gif"}}, {ORVPLAY_PATH, {"own2.gif"}}, {ORVPLAY_PATH, {"same.gif"}},
      {ORVPLAY_PATH, {"same.gif"}}, {ORVHOST_PATH, {"t1.png"}},   {ORVHOST_PATH, {"same.png"}},
  };
  int failed = 0;
  for (int round = 0; round < 200; ++round) {
    std::vector<pid_t> pids;
    for (const auto& run : runs) {
      std::vector<std::string> args = run.program == std::string(ORVPLAY_PATH)
                                          ? fade
                                          : std::vector<std::string>{"thumbnail", "--out"};
      args.insert(args.end(), run.args.begin(), run.args.end());
      pids.push_back(Spawn(run.program, args));
    }
    for (const pid_t pid : pids) {
      int status = 0;
      failed += pid <= 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
                WEXITSTATUS(status) != 0;
    }
  }
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(Files(), (std::vector<std::string>{"a.png", "b.png", "own1.gif", "own2.gif", "same.gif",
                                               "same.png", "t1.png"}));
  const Picture one = ReadPng(dir / "t1.png"), same = ReadPng(dir / "same.png");
  EXPECT_EQ(same.rgb, one.rgb);
  EXPECT_EQ(Slurp(dir / "same.gif"), Slurp(dir / "own1.gif"));
}

TEST_F(OrvplayTest, WhatAKilledRunLeftIsFinishedOrUndoneByTheNext) {
  using Set = std::map<std::string, std::string>;
  const std::string f0 = FrameName(0), f1 = FrameName(1);
  // Each folder as a run killed at some point left it, beside a file of the
  // user's. A run refused for that file changes nothing; the next run
  // allowed in (--force; it then fails on a damaged picture) leaves it so.
  const struct {
    const char* when;
    Set left, after;
  } cases[] = {
      {"while rendering", {{".orvnew-Aa0000", "<folder>"}, {".orvnew-Aa0000/" + f0, "new0"}}, {}},
      {"while moving the old set aside: undone",
       {{f1, "old1"},
        {".orvout-Bb0000", "<folder>"},
        {".orvout-Bb0000/" + f0, "old0"},
        {".orvnew-Bb0000", "<folder>"},
        {".orvnew-Bb0000/" + f0, "new0"},
        {".orvnew-Bb0000/" + f1, "new1"}},
       {{f0, "old0"}, {f1, "old1"}}},
      {"while moving the new set in: finished",
       {{f0, "new0"},
        {".orvold-Cc0000", "<folder>"},
        {".orvold-Cc0000/" + f0, "old0"},
        {".orvold-Cc0000/" + f1, "old1"},
        {".orvnew-Cc0000", "<folder>"},
        {".orvnew-Cc0000/final.png", "newF"}},
       {{f0, "new0"}, {"final.png", "newF"}}},
      {"after the swap",
       {{f0, "new0"}, {".orvold-Dd0000", "<folder>"}, {".orvold-Dd0000/" + f1, "old1"}},
       {{f0, "new0"}}},
      // A file's temporary is the tools' name and no lock; the user's look-alikes stay.
      {"writing a file",
       {{".orvtmp-Ee0000", "half"},
        {".orvtmp-mine", "mine"},
        {".orvnew-", "<folder>"},
        {".orvold-Hh0000", "mine"}},
       {{".orvtmp-mine", "mine"}, {".orvnew-", "<folder>"}, {".orvold-Hh0000", "mine"}}},
      // A name the user wrote after the kill keeps the user's file; the dead
      // run's copy stays in sight.
      {"while moving the old set aside, then the user wrote one",
       {{f0, "user's"},
        {".orvout-Ii0000", "<folder>"},
        {".orvout-Ii0000/" + f0, "old0"},
        {".orvout-Ii0000/" + f1, "old1"}},
       {{f0, "user's"},
        {f1, "old1"},
        {"orv-stopped-run-Ii0000", "<folder>"},
        {"orv-stopped-run-Ii0000/" + f0, "old0"}}},
      {"while moving the new set in, then the user wrote one",
       {{"final.png", "user's"},
        {".orvold-Jj0000", "<folder>"},
        {".orvnew-Jj0000", "<folder>"},
        {".orvnew-Jj0000/final.png", "newF"}},
       {{"final.png", "user's"},
        {"orv-stopped-run-Jj0000", "<folder>"},
        {"orv-stopped-run-Jj0000/final.png", "newF"}}},
  };
  std::ofstream(dir / "bad.png", std::ios::binary) << HeaderOnlyPng(1, 1, 64);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.when);
    fs::remove_all(dir / "v");
    fs::create_directory(dir / "v");
    for (const auto& [name, bytes] : c.left) {
      if (bytes == "<folder>")
        fs::create_directory(dir / "v" / name);
      else
        std::ofstream(dir / "v" / name) << bytes;
    }
    std::ofstream(dir / "v" / "notes.txt") << "mine";
    const auto left = Snapshot();
    const Result refused = Run({"OrvFade", "--frames", "v"});
    EXPECT_EQ(refused.code, 2);
    EXPECT_NE(refused.err.find("--frames v already holds"), std::string::npos) << refused.err;
    EXPECT_EQ(Snapshot(), left);
    const Result r =
        Run({"OrvFade", "--frames", "v", "--force", "--from", "bad.png", "--to", "bad.png"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("bad.png is damaged"), std::string::npos) << r.err;
    Set expected{{"v", "<folder>"}, {"v/notes.txt", "mine"}, {"bad.png", Slurp(dir / "bad.png")}};
    for (const auto& [name, bytes] : c.after) {
      expected["v/" + name] = bytes;
      if (name.starts_with("orv-stopped-run-") && bytes != "<folder>") {
        EXPECT_NE(r.err.find("kept v/" + fs::path(name).filename().string() +
                             ", written after a run was stopped; that run's copy is v/" + name),
                  std::string::npos)
            << r.err;
      }
    }
    EXPECT_EQ(Snapshot(), expected);
  }
  fs::remove(dir / "bad.png");
  // A live run's temporary (locked) stays; a dead one's beside an --out goes.
  std::ofstream(dir / ".orvtmp-Ff0000") << "live";
  std::ofstream(dir / ".orvtmp-Gg0000") << "dead";
  const int live = ::open((dir / ".orvtmp-Ff0000").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(live, LOCK_EX | LOCK_NB), 0);
  fs::remove_all(dir / "v");
  ASSERT_EQ(Run({"OrvFade", "--out", "x.gif", "--duration", "100"}).code, 0);
  ::close(live);
  EXPECT_EQ(Files(), (std::vector<std::string>{".orvtmp-Ff0000", "x.gif"}));
}

// A full disk or a file size limit, found in different ways.
TEST_F(OrvplayTest, AWriteThatFailsExitsOneAndLeavesNoFile) {
  const auto before = Snapshot();
  // dash counts ulimit -f in blocks of 512 bytes: 8 KiB. The tools ignore
  // SIGXFSZ themselves, so the write fails like one on a full disk.
  const std::string limit = "ulimit -f 16;";
  const std::string full = "No space left on device", out = "standard output: " + full;
  const struct {
    const char* program;
    std::vector<std::string> args;
    std::string setup, out, message;
  } cases[] = {
      // clang-format off
      {ORVPLAY_PATH, {"--list"}, "", "/dev/full", out},
      {ORVHOST_PATH, {"classes"}, "", "/dev/full", out},
      {ORVHOST_PATH, {"thumbnail", "--out", "/dev/full"}, "", "", "/dev/full: " + full},
      {ORVPLAY_PATH, {"OrvFade", "--out", "sheet.png"}, limit, "", "sheet.png: File too large"},
      {ORVPLAY_PATH, {"--all", "--out-dir", "gallery"}, limit, "", "cannot write gallery/OrvFade."},
      // clang-format on
  };
  for (const auto& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    SCOPED_TRACE(c.setup + " " + joined);
    const Result r = Exec(c.program, c.args, c.setup, c.out);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(".orv"), std::string::npos) << "a hidden name in " << r.err;
    EXPECT_EQ(Snapshot(), before);
  }
}

// A small tmpfs that fills for real, then is made read-only.
TEST_F(OrvplayTest, AFullFileSystemExitsOneAndLeavesNoFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  struct Mount {
    fs::path at;
    bool mounted = false;
    ~Mount() {
      if (mounted) ::umount(at.c_str());
    }
  } small{dir / "small"};
  fs::create_directory(small.at);
  small.mounted = ::mount("tmpfs", small.at.c_str(), "tmpfs", 0, "size=256k,mode=0755") == 0;
  if (!small.mounted) GTEST_SKIP() << "no small tmpfs mounted: " << std::strerror(errno);
  const auto before = Snapshot();
  std::vector<std::vector<std::string>> runs{{"OrvFade", "--frames", "small/f"},
                                             {"--all", "--out-dir", "small/g"}};
  // A video container seeks back to its header at the end: the first error,
  // the full disk, is the one reported, not the failed seek after it.
  if (orvplay::kVideoBuilt)
    for (const char* name : {"small/v.mp4", "small/v.webm", "small/v.mkv"})
      runs.push_back({"OrvFade", "--out", name});
  for (const std::vector<std::string>& args : runs) {
    SCOPED_TRACE(args[1] + " " + args[2]);
    const Result r = Run(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    EXPECT_EQ(Snapshot(), before);
  }
  ASSERT_EQ(::mount("tmpfs", small.at.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=256k"), 0);
  ExpectRefusedBeforeWork("small", "Read-only file system");
}

TEST_F(OrvplayTest, AFolderWithoutWritePermissionStopsTheRunBeforeItStarts) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into any folder";
  fs::create_directory(dir / "locked");
  fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  ExpectRefusedBeforeWork("locked", "Permission denied");
  fs::permissions(dir / "locked", fs::perms::owner_all);
}

// Each kind's peak memory at 2048 x 2048 lies between what orvplay counts as
// the least a run needs (a run under a smaller ulimit -v is refused before any
// work) and what README promises for the kind.
TEST_F(OrvplayTest, EachOutputKindStaysWithinItsMemoryBudget) {
  if (actors_test::UnderSanitizer() || actors_test::UnderValgrind())
    GTEST_SKIP() << "a checker's own memory counts";
  constexpr int32_t kSide = 2048;
  constexpr int64_t kPixels = int64_t(kSide) * kSide, kMiB = 1 << 20;
  Picture smooth(kSide, kSide);
  for (int32_t y = 0; y < kSide; ++y)
    for (int32_t x = 0; x < kSide; ++x) {
      uint8_t* p = smooth.At(x, y);
      p[0] = uint8_t(x), p[1] = uint8_t(y), p[2] = uint8_t((x + y) / 16);
    }
  WritePng("a.png", smooth);
  std::reverse(smooth.rgb.begin(), smooth.rgb.end());
  WritePng("b.png", smooth);
  constexpr int64_t kBigPixels = int64_t(8192) * 8192;
  std::ofstream(dir / "big.png", std::ios::binary) << HeaderOnlyPng(8192, 8192, 200000);
  const std::vector<std::string> pictures{"OrvFade",    "--from", "a.png", "--to", "b.png",
                                          "--duration", "100",    "--fps", "20"};
  const struct {
    std::vector<std::string> output;
    const orvplay::VideoCodecFacts* codec;
    int64_t bytesPerPixel;  // README's budget for the kind, beyond 30 MiB
  } cases[] = {
      {{"--no-output"}, nullptr, 25},
      {{"--frames", "f"}, nullptr, 25},
      {{"--out", "x.png"}, nullptr, 30},
      {{"--out", "x.gif"}, nullptr, 35},
      {{"--out", "x.mp4"}, &orvplay::kH264, 50},
      {{"--out", "x.mp4", "--lossless"}, &orvplay::kH264Rgb, 75},
      {{"--out", "x.webm"}, &orvplay::kVp9, 110},
      {{"--out", "x.mkv"}, &orvplay::kFfv1, 60 + 148},
  };
  for (const auto& c : cases) {
    if (c.codec && !orvplay::kVideoBuilt) continue;
    // The file or folder written, or --no-output.
    const std::string& what = c.output[c.output.size() > 1 ? 1 : 0];
    SCOPED_TRACE(what);
    std::vector<std::string> args = pictures;
    args.insert(args.end(), c.output.begin(), c.output.end());
    const Result r = Run(args);
    ASSERT_EQ(r.code, 0) << r.err;
    if (c.output[0] == "--out") {
      EXPECT_TRUE(fs::is_regular_file(dir / what));
    }
    const int64_t peak = int64_t(r.peakKiB) * 1024;
    EXPECT_LE(peak, 30 * kMiB + c.bytesPerPixel * kPixels) << peak / kMiB << " MiB";
    int64_t least = orvplay::kRunBytesPerPixel * kPixels;
    if (c.codec) least += orvplay::VideoBytes(*c.codec, kPixels);
    EXPECT_GE(peak, least) << peak / kMiB << " MiB";
    fs::remove_all(dir / what);

    // Under a limit on the address space below that least, an 8192 x 8192 run
    // is refused from the pictures' headers, before any work, and leaves nothing.
    int64_t bigLeast = orvplay::kRunBytesPerPixel * kBigPixels;
    if (c.codec) bigLeast += orvplay::VideoBytes(*c.codec, kBigPixels);
    std::vector<std::string> big{"OrvFade", "--from", "big.png", "--to", "big.png"};
    big.insert(big.end(), c.output.begin(), c.output.end());
    const auto before = Snapshot();
    const Result refused =
        Exec(ORVPLAY_PATH, big, "ulimit -v " + std::to_string(bigLeast / 10 * 8 / 1024) + ";");
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("out of memory: a 8192x8192 run"), std::string::npos) << refused.err;
    EXPECT_EQ(Snapshot(), before);
  }
}

// Under any limit on the address space a run plays the whole transition and
// exits 0, or exits 1 with "out of memory" and leaves the old output as it
// was; never a cut the module fell back to for want of memory, taken for the
// transition. The limits are probed by halving towards the least that
// succeeds, where the stage fits and the module's own frames may not.
TEST_F(OrvplayTest, ARunShortOfMemoryNeverPassesForAWholeOne) {
  if (actors_test::UnderSanitizer() || actors_test::UnderValgrind())
    GTEST_SKIP() << "a checker's own memory counts";
  constexpr int32_t kSide = 2048;
  Picture flat(kSide, kSide);
  WritePng("a.png", flat);
  std::fill(flat.rgb.begin(), flat.rgb.end(), uint8_t(200));
  WritePng("b.png", flat);
  std::ofstream(dir / "sheet.png") << "old sheet";
  const auto before = Snapshot();
  const std::vector<std::string> args{"OrvFade",    "--from", "a.png", "--to",     "b.png",
                                      "--duration", "100",    "--out", "sheet.png"};
  int64_t fails = 16 << 10, works = 4 << 20;  // KiB
  int probes = 0;
  while (works - fails > 1024) {
    const int64_t limit = (fails + works) / 2;
    SCOPED_TRACE("ulimit -v " + std::to_string(limit));
    const Result r = Exec(ORVPLAY_PATH, args, "ulimit -v " + std::to_string(limit) + ";");
    ++probes;
    if (r.code == 0) {
      EXPECT_NE(r.out.find("OrvFade: 5 steps at 32 bits"), std::string::npos) << r.out;
      EXPECT_GT(ReadPng(dir / "sheet.png").width, 0);
      std::ofstream(dir / "sheet.png") << "old sheet";
      works = limit;
    } else {
      EXPECT_EQ(r.code, 1);
      EXPECT_NE(r.err.find("out of memory"), std::string::npos) << r.err;
      fails = limit;
    }
    EXPECT_EQ(Snapshot(), before);
  }
  EXPECT_GT(probes, 5);
}

// ---- frames ----

TEST_F(OrvplayTest, FadeFramesAt32BitsFollowTheFadesDefinition) {
  const Picture a = Random(37, 23, 11), b = Random(37, 23, 12);
  WritePng("a.png", a);
  WritePng("b.png", b);
  // A frame from an earlier, longer run, and a file of the user's.
  fs::create_directory(dir / "frames");
  WritePng("frames/" + FrameName(99), a);
  std::ofstream(dir / "frames" / "notes.txt") << "mine";

  const Result r = Run({"OrvFade", "--from", "a.png", "--to", "b.png", "--duration", "300", "--fps",
                        "20", "--frames", "frames", "--force"});
  ASSERT_EQ(r.code, 0) << r.err;
  // Steps at 0, 50, ... 300 ms, and 350 ms, the first past the duration.
  EXPECT_EQ(r.out.rfind("OrvFade: 8 steps at 32 bits", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("frames/"), std::string::npos) << r.out;
  for (int k = 0; k < 8; ++k) {
    SCOPED_TRACE("step " + std::to_string(k));
    const Picture frame = ReadPng(dir / "frames" / FrameName(k));
    EXPECT_TRUE(frame == Fade(a, b, k * 50, 300));
  }
  EXPECT_TRUE(ReadPng(dir / "frames" / "final.png") == b);
  EXPECT_FALSE(fs::exists(dir / "frames" / FrameName(8)));
  EXPECT_FALSE(fs::exists(dir / "frames" / FrameName(99))) << "a stale frame was kept";
  EXPECT_EQ(Slurp(dir / "frames" / "notes.txt"), "mine");
  std::vector<std::string> files = Files();
  EXPECT_EQ(files.size(), 1u + 8 + 1 + 1 + 2) << "no staging or temporary files";
}

TEST_F(OrvplayTest, FrameNamesSortInStepOrderAtEveryCount) {
  // 1 x 1 pictures, black to white: each frame's grey grows with its step.
  WritePng("a.png", Picture(1, 1));
  Picture white(1, 1);
  white.rgb.assign(3, 255);
  WritePng("b.png", white);
  const struct {
    const char* duration;
    const char* fps;
    size_t steps;
    size_t digits;
  } cases[] = {{"100", "30", 5, 5}, {"99999", "1000", 100001, 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.duration) + " ms at " + c.fps);
    fs::remove_all(dir / "f");
    const Result r = Run({"OrvFade", "--from", "a.png", "--to", "b.png", "--duration", c.duration,
                          "--fps", c.fps, "--frames", "f"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<std::string> names = Files();
    ASSERT_EQ(names.size(), 2 + 1 + 1 + c.steps) << "a.png, b.png, f, final.png, the frames";
    EXPECT_EQ(names[0], "a.png");
    EXPECT_EQ(names[1], "b.png");
    EXPECT_EQ(names[2], "f");
    EXPECT_EQ(names[3], "f/final.png");
    int previous = -1;
    for (size_t k = 0; k < c.steps; ++k) {
      const std::string& name = names[4 + k];
      ASSERT_EQ(name.size(), 2 + 6 + c.digits + 4) << name;
      ASSERT_EQ(name.substr(0, 8), "f/frame-") << name;
      ASSERT_EQ(std::stoul(name.substr(8, c.digits)), k) << name << " sorts out of step order";
      // Every name is checked; of a long run's pictures a sample, which keeps
      // the checkers' legs (valgrind) from decoding a hundred thousand.
      if (c.steps > 1000 && k % 997 != 0 && k + 1 != c.steps) continue;
      const int grey = ReadPng(dir / name).rgb[0];
      ASSERT_GE(grey, previous) << name;
      previous = grey;
    }
    EXPECT_EQ(previous, 255);
  }
}

TEST_F(OrvplayTest, StepTimesRoundDown) {
  // 1000 / 30 ms apart: 0, 33, 66, 100 ... the first past 100 ms is step 4 at 133.
  const Picture a = Random(16, 8, 21), b = Random(16, 8, 22);
  WritePng("a.png", a);
  WritePng("b.png", b);
  const Result r =
      Run({"OrvFade", "--from", "a.png", "--to", "b.png", "--duration", "100", "--frames", "f"});
  ASSERT_EQ(r.code, 0) << r.err;
  const int elapsed[] = {0, 33, 66, 100, 133};
  for (int k = 0; k < 5; ++k)
    EXPECT_TRUE(ReadPng(dir / "f" / FrameName(k)) == Fade(a, b, elapsed[k], 100)) << "step " << k;
  EXPECT_FALSE(fs::exists(dir / "f" / FrameName(5)));
}

TEST_F(OrvplayTest, TheRectangleLimitsTheEffect) {
  const Picture a = Random(40, 30, 31), b = Random(40, 30, 32);
  WritePng("a.png", a);
  WritePng("b.png", b);
  // top 5, left 7, bottom 20, right 30
  const Result r = Run({"fade", "--from", "a.png", "--to", "b.png", "--duration", "200", "--fps",
                        "10", "--rect", "5,7,20,30", "--frames", "f"});
  ASSERT_EQ(r.code, 0) << r.err;
  for (int k : {0, 1, 2}) {
    SCOPED_TRACE("step " + std::to_string(k));
    const Picture frame = ReadPng(dir / "f" / FrameName(k));
    const Picture inside = Fade(a, b, k * 100, 200);
    for (int32_t y = 0; y < 30; ++y)
      for (int32_t x = 0; x < 40; ++x) {
        const bool in = y >= 5 && y < 20 && x >= 7 && x < 30;
        const uint8_t* want = in ? inside.At(x, y) : a.At(x, y);
        ASSERT_TRUE(std::equal(want, want + 3, frame.At(x, y))) << x << "," << y;
      }
  }
}

TEST_F(OrvplayTest, PicturesEnterAndLeaveTheStageAtEachDepth) {
  Picture a = Random(24, 12, 41), b = Random(24, 12, 42);
  WritePng("a.png", a);
  WritePng("b.png", b);
  auto widen5 = [](uint8_t c) { return uint8_t((c >> 3) << 3 | (c >> 3) >> 2); };
  for (const char* depth : {"24", "16", "8"}) {
    SCOPED_TRACE(std::string("depth ") + depth);
    const std::string out = std::string("d") + depth;
    const Result r = Run({"OrvFade", "--from", "a.png", "--to", "b.png", "--depth", depth,
                          "--duration", "100", "--fps", "10", "--frames", out});
    ASSERT_EQ(r.code, 0) << r.err;
    const Picture first = ReadPng(dir / out / FrameName(0));
    const Picture last = ReadPng(dir / out / "final.png");
    if (std::string(depth) == "24") {
      EXPECT_TRUE(first == a);
      EXPECT_TRUE(last == b);
    } else if (std::string(depth) == "16") {
      Picture a5 = a, b5 = b;
      for (auto& c : a5.rgb) c = widen5(c);
      for (auto& c : b5.rgb) c = widen5(c);
      EXPECT_TRUE(first == a5);
      EXPECT_TRUE(last == b5);
    } else {
      // At 8 bits the transition is a cut: one step showing the old frame,
      // then the new one after Finish.
      EXPECT_EQ(r.out.rfind("OrvFade: 1 steps at 8 bits", 0), 0u) << r.out;
      EXPECT_FALSE(fs::exists(dir / out / FrameName(1)));
      for (int32_t i = 0; i < 24 * 12; ++i) {
        const uint8_t* p = &first.rgb[size_t(i) * 3];
        const uint8_t* s = &a.rgb[size_t(i) * 3];
        ASSERT_EQ(p[0] >> 5, s[0] >> 5);
        ASSERT_EQ(p[1] >> 5, s[1] >> 5);
        ASSERT_EQ(p[2] >> 6, s[2] >> 6);
        const uint8_t* q = &last.rgb[size_t(i) * 3];
        const uint8_t* e = &b.rgb[size_t(i) * 3];
        ASSERT_EQ(q[0] >> 5, e[0] >> 5);
        ASSERT_EQ(q[2] >> 6, e[2] >> 6);
      }
    }
  }
}

TEST_F(OrvplayTest, EveryTransitionEndsOnTheNewFrameInsideTheRectangleOnly) {
  const Picture a = Random(29, 13, 81), b = Random(29, 13, 82);
  WritePng("a.png", a);
  WritePng("b.png", b);
  for (const char* symbol : kSymbols) {
    for (const char* chunk : {"1", "6", "64"}) {
      SCOPED_TRACE(std::string(symbol) + " chunk " + chunk);
      const Result r = Run({symbol, "--from", "a.png", "--to", "b.png", "--depth", "24", "--chunk",
                            chunk, "--rect", "2,3,11,26", "--duration", "300", "--fps", "20",
                            "--frames", "f", "--force"});
      ASSERT_EQ(r.code, 0) << r.err;
      // After Finish the rectangle shows the new frame and the rest the old.
      const Picture final = ReadPng(dir / "f" / "final.png");
      for (int32_t y = 0; y < 13; ++y)
        for (int32_t x = 0; x < 29; ++x) {
          const bool in = y >= 2 && y < 11 && x >= 3 && x < 26;
          const uint8_t* want = in ? b.At(x, y) : a.At(x, y);
          ASSERT_TRUE(std::equal(want, want + 3, final.At(x, y))) << x << "," << y;
        }
      // The step that reports done already shows it, except in the wipe down
      // and the wipe left, whose last steps copy nothing (q = 0) and leave the
      // band's last mix beside the rectangle's edge until Finish.
      if (std::string(symbol) != "OrvWipeDown" && std::string(symbol) != "OrvWipeLeft") {
        EXPECT_TRUE(ReadPng(dir / "f" / FrameName(7)) == final);
      }
      EXPECT_FALSE(fs::exists(dir / "f" / FrameName(8)));
    }
  }
}

TEST_F(OrvplayTest, GreyAndAlphaPicturesAreReadAsRgb) {
  // A grey PNG with alpha, written with libpng's simplified interface.
  const int w = 5, h = 3;
  std::vector<uint8_t> ga;
  for (int i = 0; i < w * h; ++i) ga.insert(ga.end(), {uint8_t(i * 17), uint8_t(i * 10)});
  const std::string path = (dir / "grey.png").string();
  {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = w, image.height = h, image.format = PNG_FORMAT_GA;
    ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, ga.data(), 0, nullptr));
  }
  const Picture p = orvplay::ReadPng(path);
  ASSERT_EQ(p.width, w);
  ASSERT_EQ(p.height, h);
  for (int i = 0; i < w * h; ++i)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(p.rgb[size_t(i) * 3 + size_t(c)], uint8_t(i * 17)) << i;
}

TEST_F(OrvplayTest, OrvColorTakesItsColourFromTheMembersMedia) {
  const Picture a = Random(16, 8, 51), b = Random(16, 8, 52);
  WritePng("a.png", a);
  WritePng("b.png", b);
  // duration 400, 10 fps: step 2 is at 200 ms, half the duration, where the
  // window shows the tinted copy of the new frame alone.
  for (const auto& [name, keep] :
       std::vector<std::pair<std::string, int>>{{"red", 4}, {"cyan", 3}, {"bw", 7}, {"", 7}}) {
    SCOPED_TRACE("colour '" + name + "'");
    std::vector<std::string> args{"OrvColor", "--from",     "a.png",   "--to",
                                  "b.png",    "--duration", "400",     "--fps",
                                  "10",       "--frames",   "f" + name};
    if (!name.empty()) args.insert(args.end(), {"--color", name});
    const Result r = Run(args);
    ASSERT_EQ(r.code, 0) << r.err;
    const Picture mid = ReadPng(dir / ("f" + name) / FrameName(2));
    for (int32_t i = 0; i < 16 * 8; ++i) {
      const uint8_t* e = &b.rgb[size_t(i) * 3];
      const uint8_t grey = uint8_t((e[0] + e[1] + e[2]) / 3);
      const uint8_t* p = &mid.rgb[size_t(i) * 3];
      // keep: bit 2 red, bit 1 green, bit 0 blue
      ASSERT_EQ(p[0], keep & 4 ? grey : 0) << "pixel " << i;
      ASSERT_EQ(p[1], keep & 2 ? grey : 0) << "pixel " << i;
      ASSERT_EQ(p[2], keep & 1 ? grey : 0) << "pixel " << i;
    }
  }
}

// ---- the GIF, the contact sheet and the page ----

TEST_F(OrvplayTest, GifShowsTheStepsInTime) {
  // 20 x 12 pixels have at most 240 colours, so every frame comes back exactly.
  const Picture a = Random(20, 12, 61), b = Random(20, 12, 62);
  WritePng("a.png", a);
  WritePng("b.png", b);
  const Result r = Run({"OrvFade", "--from", "a.png", "--to", "b.png", "--duration", "200", "--fps",
                        "10", "--out", "f.gif"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("-> f.gif"), std::string::npos) << r.out;
  const giftest::Gif gif = giftest::DecodeGifFile(dir / "f.gif");
  EXPECT_EQ(gif.width, 20);
  EXPECT_EQ(gif.height, 12);
  EXPECT_EQ(gif.loops, 0);  // forever
  // Steps at 0, 100, 200 and 300 ms show weights 0, 128, 256 and 256; the
  // steps at and past the duration take no time, and the end frame is held a
  // second.
  ASSERT_EQ(gif.frames.size(), 3u);
  EXPECT_TRUE(gif.frames[0] == a);
  EXPECT_TRUE(gif.frames[1] == Fade(a, b, 100, 200));
  EXPECT_TRUE(gif.frames[2] == b);
  EXPECT_EQ(gif.delays, (std::vector<int32_t>{10, 10, 100}));
}

TEST_F(OrvplayTest, ContactSheetShowsTheFirstAndLastFrames) {
  const Result r = Run({"OrvFade", "--out", "sheet.png"});
  ASSERT_EQ(r.code, 0) << r.err;
  const Picture sheet = ReadPng(dir / "sheet.png");
  const Picture from = orvplay::Shrink(orvplay::BuiltinFromPicture(), 240, 135);
  const Picture to = orvplay::Shrink(orvplay::BuiltinToPicture(), 240, 135);
  // Where a thumbnail sits in the sheet, by its pixels; -1 when absent.
  auto find = [&](const Picture& t) {
    for (int32_t y = 0; y + t.height <= sheet.height; ++y)
      for (int32_t x = 0; x + t.width <= sheet.width; ++x) {
        bool same = true;
        for (int32_t ty = 0; ty < t.height && same; ++ty)
          same = std::equal(t.At(0, ty), t.At(0, ty) + t.width * 3, sheet.At(x, y + ty));
        if (same) return std::pair(x, y);
      }
    return std::pair(-1, -1);
  };
  const auto first = find(from), last = find(to);
  ASSERT_GE(first.first, 0) << "the first frame is missing";
  ASSERT_GE(last.first, 0) << "the last frame is missing";
  // 12 cells, four to a row: the first top left, the last bottom right.
  EXPECT_GT(last.first, first.first);
  EXPECT_GT(last.second, first.second);
  EXPECT_GT(sheet.width, 4 * 240);
  EXPECT_LT(sheet.width, 4 * 240 + 200);
  EXPECT_GT(sheet.height, 3 * 135);
}

TEST(ContactSheetTest, TheSheetIsWideEnoughForItsLabels) {
  // Two small cells under a long settings line: nothing is cut off.
  const orvplay::SheetTitle title{"OrvWipe Up (OrvWipeUp)",
                                  "8 bits  2000 ms  chunk 64  30 fps  rect 0,0,360,640"};
  std::vector<std::pair<std::string, Picture>> cells{{"step 0  0 ms", Random(40, 20, 1)},
                                                     {"after Finish", Random(40, 20, 2)}};
  const Picture sheet = orvplay::ContactSheet(title, cells);
  EXPECT_GE(sheet.width, 2 * 12 + orvplay::TextWidth(title.settings, 2));
  EXPECT_GE(sheet.width, 2 * 12 + orvplay::TextWidth(title.heading, 3));
  // The rightmost column of pixels is background: the text ends before it.
  for (int32_t y = 0; y < sheet.height; ++y)
    ASSERT_TRUE(
        std::equal(sheet.At(sheet.width - 1, y), sheet.At(sheet.width - 1, y) + 3, sheet.At(0, 0)))
        << "row " << y;
}

TEST_F(OrvplayTest, AllWritesEveryTransitionAndAPage) {
  WritePng("a.png", Random(32, 16, 71));
  WritePng("b.png", Random(32, 16, 72));
  const Result r = Run({"--all", "--from", "a.png", "--to", "b.png", "--duration", "200", "--fps",
                        "20", "--color", "magenta", "--out-dir", "gallery"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("6 transitions: 36 steps", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("gallery/index.html"), std::string::npos) << r.out;
  const std::string page = Slurp(dir / "gallery" / "index.html");
  for (const char* s : kSymbols) {
    SCOPED_TRACE(s);
    const std::string gif = std::string(s) + ".gif", png = std::string(s) + ".png";
    EXPECT_NO_THROW(giftest::DecodeGifFile(dir / "gallery" / gif));
    EXPECT_NO_THROW(ReadPng(dir / "gallery" / png));
    EXPECT_NE(page.find("src=\"" + gif + "\""), std::string::npos);
    EXPECT_NE(page.find("src=\"" + png + "\""), std::string::npos);
    if (orvplay::kVideoBuilt) {
      EXPECT_NE(page.find("<video src=\"" + std::string(s) + ".mp4\" width=\"32\" height=\"16\""),
                std::string::npos);
      EXPECT_TRUE(fs::is_regular_file(dir / "gallery" / (std::string(s) + ".mp4")));
    }
  }
  EXPECT_NE(page.find("OrvWipe Left"), std::string::npos);
  EXPECT_NE(page.find("colour magenta"), std::string::npos);
  // The two pictures, the folder, per transition a GIF, a PNG and (when built) a
  // video, and the page.
  EXPECT_EQ(Files().size(), 2u + 1 + std::size(kSymbols) * (orvplay::kVideoBuilt ? 3 : 2) + 1)
      << "no temporary files";
}

}  // namespace
