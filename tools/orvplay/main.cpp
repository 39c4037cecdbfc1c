// orvplay: plays any transition of the module between two pictures through
// the stand-in host and shows what an author would see: an animated GIF, a
// contact sheet, every frame as a PNG, or a page with all six.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/orvplay/builtin_pictures.h"
#include "tools/orvplay/gallery.h"
#include "tools/orvplay/options.h"
#include "tools/orvplay/outputs.h"
#include "tools/orvplay/png_io.h"
#include "tools/orvplay/stage.h"

using namespace orvplay;
namespace fs = std::filesystem;

namespace {

// A mistake on the command line: exit code 2, the rest 1.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void OnSignal(int) { interrupted = true; }

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string RectText(const HostRect& r) {
  return std::to_string(r.top) + "," + std::to_string(r.left) + "," + std::to_string(r.bottom) +
         "," + std::to_string(r.right);
}

std::string SizeText(const Picture& p) {
  return std::to_string(p.width) + "x" + std::to_string(p.height);
}

void PrintList(const Stage& stage) {
  std::printf("%-14s %-15s %-24s %9s %6s\n", "symbol", "display name", "category", "duration",
              "chunk");
  for (const Transition& t : stage.transitions())
    std::printf("%-14s %-15s %-24s %6d ms %6d\n", t.symbol.c_str(), t.displayName.c_str(),
                t.category.c_str(), t.defaultDuration, t.defaultChunkSize);
}

const Transition& FindTransition(const Stage& stage, const std::string& typed) {
  for (const Transition& t : stage.transitions())
    if (NameMatches(typed, t.symbol) || NameMatches(typed, t.displayName)) return t;
  std::string known;
  for (const Transition& t : stage.transitions())
    known += "\n  " + t.symbol + " (\"" + t.displayName + "\")";
  throw UsageError("unknown transition '" + typed + "'; the module has:" + known);
}

bool IsColorTransition(const Transition& t) { return t.symbol == "OrvColor"; }

// The rectangle must lie inside the picture and hold at least one pixel.
HostRect CheckedRect(const Options& o, const Picture& picture) {
  if (!o.rect) return HostRect{0, 0, picture.height, picture.width};
  const HostRect r = *o.rect;
  if (r.top < 0 || r.left < 0 || r.bottom > picture.height || r.right > picture.width)
    throw UsageError("--rect " + RectText(r) + " lies outside the " + SizeText(picture) +
                     " picture (top,left,bottom,right; bottom and right exclusive)");
  if (r.top >= r.bottom || r.left >= r.right)
    throw UsageError("--rect " + RectText(r) +
                     " is empty: top must be below bottom and left below right");
  return r;
}

// The wipes place their band at (size + chunk) * elapsed / duration in 32-bit
// arithmetic; refuse settings that would overflow it.
void CheckStepRange(const Options& o, const Picture& picture) {
  const int64_t side = std::max(picture.width, picture.height);
  const int64_t lastElapsed = StepElapsed(ExpectedSteps(o.duration, o.fps) - 1, o.fps);
  if ((side + o.chunk) * lastElapsed > INT32_MAX) {
    const int64_t most = INT32_MAX / (side + o.chunk) - 1000 / o.fps - 1;
    throw UsageError("--duration " + std::to_string(o.duration) + " is too long for a " +
                     SizeText(picture) + " picture with chunk " + std::to_string(o.chunk) +
                     "; at most " + std::to_string(std::max<int64_t>(most, 1)) + " ms");
  }
}

std::string SettingsText(const Options& o, const PlaySettings& s, bool color) {
  std::string text = std::to_string(s.depth) + " bits  " + std::to_string(s.duration) +
                     " ms  chunk " + std::to_string(s.chunkSize) + "  " + std::to_string(s.fps) +
                     " fps  rect " + RectText(s.rect);
  if (color) text += "  colour " + std::string(ColorName(o.color.value_or(6)));
  return text;
}

struct Played {
  int32_t steps = 0;
  std::vector<std::string> where;
};

Played PlayOne(Stage& stage, const Transition& t, const Options& o, const Picture& from,
               const Picture& to, const HostRect& rect, const std::string& gifPath,
               const std::string& sheetPath) {
  PlaySettings s;
  s.depth = o.depth;
  s.duration = o.duration;
  s.chunkSize = o.chunk;
  s.fps = o.fps;
  s.rect = rect;
  if (IsColorTransition(t)) s.colorChoice = o.color;
  const int32_t expected = ExpectedSteps(o.duration, o.fps);

  std::vector<std::unique_ptr<Output>> outputs;
  if (o.noOutput) outputs.push_back(std::make_unique<MemoryOutput>());
  if (!gifPath.empty())
    outputs.push_back(std::make_unique<GifOutput>(gifPath, from.width, from.height, o.fps));
  if (!sheetPath.empty())
    outputs.push_back(std::make_unique<SheetOutput>(
        sheetPath,
        SheetTitle{t.displayName + " (" + t.symbol + ")", SettingsText(o, s, IsColorTransition(t))},
        expected));
  if (!o.framesDir.empty()) outputs.push_back(std::make_unique<FramesOutput>(o.framesDir));

  std::vector<Output*> raw;
  for (auto& out : outputs) raw.push_back(out.get());
  Played played;
  {
    FanOut fan(raw, t.symbol, expected);
    played.steps = stage.Play(t, s, from, to, fan);
  }
  for (auto& out : outputs) {
    out->Commit();
    played.where.push_back(out->Where());
  }
  return played;
}

int Run(const Options& o) {
  const auto start = std::chrono::steady_clock::now();
  Stage stage;
  if (o.list) {
    PrintList(stage);
    return 0;
  }
  std::vector<const Transition*> chosen;
  if (o.all) {
    for (const Transition& t : stage.transitions()) chosen.push_back(&t);
  } else {
    chosen.push_back(&FindTransition(stage, o.transition));
    if (o.color && !IsColorTransition(*chosen[0]))
      throw UsageError("--color is for OrvColor only, not " + chosen[0]->symbol);
  }

  Picture from, to;
  if (o.from.empty()) {
    from = BuiltinFromPicture();
    to = BuiltinToPicture();
  } else {
    from = ReadPng(o.from);
    to = ReadPng(o.to);
    if (from.width != to.width || from.height != to.height)
      throw std::runtime_error("the pictures differ in size: " + o.from + " is " + SizeText(from) +
                               ", " + o.to + " is " + SizeText(to));
  }
  const HostRect rect = CheckedRect(o, from);
  CheckStepRange(o, from);

  int32_t steps = 0;
  std::vector<std::string> where;
  if (o.all) {
    if (!o.outDir.empty()) {
      std::error_code ec;
      fs::create_directories(o.outDir, ec);
      if (!fs::is_directory(o.outDir))
        throw std::runtime_error("cannot make the folder " + o.outDir);
    }
    std::vector<GalleryEntry> gallery;
    for (const Transition* t : chosen) {
      const std::string base = o.outDir.empty() ? "" : (fs::path(o.outDir) / t->symbol).string();
      const Played p = PlayOne(stage, *t, o, from, to, rect, base.empty() ? "" : base + ".gif",
                               base.empty() ? "" : base + ".png");
      steps += p.steps;
      PlaySettings s;
      s.depth = o.depth, s.duration = o.duration, s.chunkSize = o.chunk, s.fps = o.fps,
      s.rect = rect;
      gallery.push_back({t->displayName, t->symbol, t->category,
                         SettingsText(o, s, IsColorTransition(*t)), t->symbol + ".gif",
                         t->symbol + ".png", p.steps});
    }
    if (!o.outDir.empty()) {
      const std::string page = GalleryPage("ORVPACK1.x32 transitions", gallery);
      const std::string index = (fs::path(o.outDir) / "index.html").string();
      WriteFileAtomic(index, std::vector<uint8_t>(page.begin(), page.end()));
      where.push_back(index);
    } else {
      where.push_back("memory");
    }
  } else {
    const std::string ext = o.out.empty() ? "" : Lower(fs::path(o.out).extension().string());
    const Played p = PlayOne(stage, *chosen[0], o, from, to, rect, ext == ".gif" ? o.out : "",
                             ext == ".png" ? o.out : "");
    steps = p.steps;
    where = p.where;
  }

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::string list;
  for (const auto& w : where) list += (list.empty() ? "" : ", ") + w;
  const std::string what =
      o.all ? std::to_string(chosen.size()) + " transitions" : chosen[0]->displayName;
  std::printf("%s: %d steps at %d bits in %.2f s -> %s\n", what.c_str(), steps, o.depth, seconds,
              list.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) {
    std::fprintf(stderr, "orvplay: %s\n(orvplay --help shows the options)\n", error.c_str());
    return 2;
  }
  if (options->help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options->version) {
    std::printf("orvplay %s\n", ORV_VERSION);
    return 0;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  try {
    return Run(*options);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "orvplay: %s\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvplay: %s\n", e.what());
    return interrupted ? 130 : 1;
  }
}
