// orvplay as a user runs it: the program with arguments, its exit codes,
// messages and files. The frames it writes are checked against the fade's
// definition and against how pictures enter and leave the stage.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "tests/tools/gif_decoder.h"
#include "tools/orvplay/builtin_pictures.h"
#include "tools/orvplay/font.h"
#include "tools/orvplay/outputs.h"
#include "tools/orvplay/picture.h"
#include "tools/orvplay/png_io.h"

namespace fs = std::filesystem;
using orvplay::Picture;

namespace {

struct Result {
  int code = -1;
  std::string out, err;
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

  // Runs orvplay in the test's folder.
  Result Run(const std::vector<std::string>& args) {
    std::string command = "cd " + Quote(dir.string()) + " && " + Quote(ORVPLAY_PATH);
    for (const auto& a : args) command += " " + Quote(a);
    command += " >out.txt 2>err.txt </dev/null";
    const int status = std::system(command.c_str());
    Result r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = Slurp(dir / "out.txt");
    r.err = Slurp(dir / "err.txt");
    fs::remove(dir / "out.txt");
    fs::remove(dir / "err.txt");
    return r;
  }

  void WritePng(const std::string& name, const Picture& p) {
    const std::vector<uint8_t> bytes = orvplay::EncodePng(p);
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }

  Picture ReadPng(const fs::path& path) { return orvplay::ReadPng(path.string()); }

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
    const int rc = posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
  }

  // Every file and folder under the test's folder with its bytes.
  std::map<std::string, std::string> Snapshot() {
    std::map<std::string, std::string> files;
    for (const std::string& name : Files())
      files[name] = fs::is_directory(dir / name) ? "<folder>" : Slurp(dir / name);
    return files;
  }

  // Every name in the folder, recursively, hidden ones included.
  std::vector<std::string> Files() {
    std::vector<std::string> names;
    // A running program may rename files meanwhile: skip what vanishes.
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
      names.push_back(fs::relative(it->path(), dir).string());
    std::sort(names.begin(), names.end());
    return names;
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

std::string FrameName(int k) {
  char name[32];
  std::snprintf(name, sizeof name, "frame-%05d.png", k);
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
  for (int i = 0; i < 6; ++i) {
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

TEST_F(OrvplayTest, CommandLineMistakesAreNamed) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
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
      {{"OrvFade", "--out", "x.jpg"}, "the name must end in .gif or .png"},
      {{"OrvFade"}, "nothing to write"},
      {{"OrvFade", "OrvColor", "--no-output"}, "one transition at a time"},
      {{"--no-output"}, "name a transition"},
      {{"--all"}, "--all needs --out-dir DIR"},
      {{"--all", "OrvFade", "--out-dir", "d"}, "--all plays every transition; name none"},
      {{"--all", "--out-dir", "d", "--out", "x.gif"}, "--out and --frames are for one transition"},
      {{"OrvFade", "--out-dir", "d"}, "--out-dir goes with --all"},
      {{"--list", "OrvFade"}, "--list takes no transition"},
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
  for (const auto& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    const Result r = Run(c.args);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(Files(), std::vector<std::string>{}) << "a failed run left files behind";
}

TEST_F(OrvplayTest, BadPicturesAreNamedAndLeaveNoFile) {
  WritePng("a.png", Random(20, 10, 1));
  WritePng("small.png", Random(19, 10, 2));
  std::ofstream(dir / "text.png") << "this is not a picture";
  {
    // A real PNG cut short inside its pixel data.
    const std::vector<uint8_t> bytes = orvplay::EncodePng(Random(64, 64, 3));
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
        framed |= name.find(FrameName(3)) != std::string::npos;
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
  std::ifstream in(dir / "f.gif", std::ios::binary);
  const giftest::Gif gif =
      giftest::DecodeGif(std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {}));
  EXPECT_EQ(gif.width, 20);
  EXPECT_EQ(gif.height, 12);
  EXPECT_TRUE(gif.loops);
  // Steps at 0, 100, 200 and 300 ms show weights 0, 128, 256 and 256; equal
  // frames merge, and the end frame is held a second after the last step.
  ASSERT_EQ(gif.frames.size(), 3u);
  EXPECT_TRUE(gif.frames[0] == a);
  EXPECT_TRUE(gif.frames[1] == Fade(a, b, 100, 200));
  EXPECT_TRUE(gif.frames[2] == b);
  EXPECT_EQ(gif.delays, (std::vector<int32_t>{10, 10, 10 + 10 + 100}));
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
    EXPECT_NO_THROW(giftest::DecodeGif([&] {
      std::ifstream in(dir / "gallery" / gif, std::ios::binary);
      return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
    }()));
    EXPECT_NO_THROW(ReadPng(dir / "gallery" / png));
    EXPECT_NE(page.find("src=\"" + gif + "\""), std::string::npos);
    EXPECT_NE(page.find("src=\"" + png + "\""), std::string::npos);
  }
  EXPECT_NE(page.find("OrvWipe Left"), std::string::npos);
  EXPECT_NE(page.find("colour magenta"), std::string::npos);
  EXPECT_EQ(Files().size(), 2u + 1 + 13) << "no temporary files";
}

}  // namespace
