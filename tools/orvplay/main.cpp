// orvplay: plays any transition of the module between two pictures through
// the stand-in host and shows what an author would see: an animated GIF, a
// contact sheet, every frame as a PNG, or a page with all six.
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/args.h"
#include "tools/orvplay/builtin_pictures.h"
#include "tools/orvplay/gallery.h"
#include "tools/orvplay/options.h"
#include "tools/orvplay/output_kinds.h"
#include "tools/orvplay/outputs.h"
#include "tools/orvplay/stage.h"
#include "tools/png_io.h"
#include "tools/safe_output.h"

using namespace orv::module;

using namespace orvplay;
namespace fs = std::filesystem;

namespace {

using orvtools::UsageError;

std::string RectText(const HostRect& r) {
  return std::to_string(r.top) + "," + std::to_string(r.left) + "," + std::to_string(r.bottom) +
         "," + std::to_string(r.right);
}

std::string SizeText(int64_t width, int64_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
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

// The rectangle must lie inside the picture and hold at least one pixel.
HostRect CheckedRect(const Options& o, int64_t width, int64_t height) {
  if (!o.rect) return HostRect{0, 0, int32_t(height), int32_t(width)};
  const HostRect r = *o.rect;
  if (r.top < 0 || r.left < 0 || r.bottom > height || r.right > width)
    throw UsageError("--rect " + RectText(r) + " lies outside the " + SizeText(width, height) +
                     " picture (top,left,bottom,right; bottom and right exclusive)");
  if (r.top >= r.bottom || r.left >= r.right)
    throw UsageError("--rect " + RectText(r) +
                     " is empty: top must be below bottom and left below right");
  return r;
}

void CheckStepRange(const Options& o, int64_t width, int64_t height) {
  if (!StepsFit(o.duration, width, height, o.chunk, o.fps))
    throw UsageError("--duration " + std::to_string(o.duration) + " is too long for a " +
                     SizeText(width, height) + " picture with chunk " + std::to_string(o.chunk) +
                     "; at most " + std::to_string(LongestDuration(width, height, o.chunk, o.fps)) +
                     " ms");
}

std::string SettingsText(const Options& o, const PlaySettings& s, bool color) {
  std::string text = std::to_string(s.depth) + " bits  " + std::to_string(s.duration) +
                     " ms  chunk " + std::to_string(s.chunkSize) + "  " + std::to_string(s.fps) +
                     " fps  rect " + RectText(s.rect);
  if (color) text += "  colour " + std::string(ColorName(o.color.value_or(kDefaultColorChoice)));
  return text;
}

struct Played {
  int32_t steps = 0;
  std::vector<std::string> where;
};

// Where one playback goes, each opened before the playback starts.
struct Destinations {
  // Each written as its name's kind says.
  std::vector<std::unique_ptr<orvtools::OutputFile>> files;
  orvtools::FolderOutput* frames = nullptr;
};

PlaySettings SettingsFor(const Options& o, const Transition& t, const HostRect& rect) {
  PlaySettings s;
  s.depth = o.depth;
  s.duration = o.duration;
  s.chunkSize = o.chunk;
  s.fps = o.fps;
  s.rect = rect;
  if (t.takesColor) s.colorChoice = o.color;
  return s;
}

// Plays into the destinations and puts them in place; `announce` tells the
// user what was done before anything is put in place.
Played PlayOne(Stage& stage, const Transition& t, const Options& o, const Picture& from,
               const Picture& to, const HostRect& rect, Destinations d,
               const std::function<void(const Played&)>& announce) {
  const PlaySettings s = SettingsFor(o, t, rect);
  const int32_t expected = ExpectedSteps(o.duration, o.fps);

  std::vector<std::unique_ptr<Output>> outputs;
  if (o.noOutput) outputs.push_back(std::make_unique<MemoryOutput>());
  const OutputRun run{.width = from.width,
                      .height = from.height,
                      .duration = o.duration,
                      .fps = o.fps,
                      .expectedSteps = expected,
                      .lossless = o.lossless,
                      .heading = t.displayName + " (" + t.symbol + ")",
                      .settings = SettingsText(o, s, t.takesColor)};
  for (auto& file : d.files) {
    // Each file was checked against the table of kinds when it was named.
    const OutputKind& kind = *OutputKindFor(file->path());
    outputs.push_back(kind.open(std::move(file), run));
  }
  if (d.frames) outputs.push_back(std::make_unique<FramesOutput>(*d.frames, expected));

  std::vector<Output*> raw;
  for (auto& out : outputs) raw.push_back(out.get());
  Played played;
  {
    FanOut fan(raw, t.symbol, expected);
    played.steps = stage.Play(t, s, from, to, fan);
  }
  // Every output is replaced, or none.
  std::vector<orvtools::Staged*> staged;
  for (auto& out : outputs) {
    out->Finish();
    if (orvtools::Staged* s = out->staged()) staged.push_back(s);
    played.where.push_back(out->Where());
  }
  orvtools::CommitAll(staged, [&] {
    if (announce) announce(played);
  });
  return played;
}

// The gallery's kinds that this orvplay writes.
bool GalleryWrites(const OutputKind& kind) {
  return kind.gallery != GalleryPlace::kNone && (!kind.IsVideo() || kVideoBuilt);
}

// A transition's file of the kind at a place in the gallery; none when this
// orvplay does not write that kind.
std::string GalleryFile(const Transition& t, GalleryPlace place) {
  const OutputKind* kind = GalleryKind(place);
  return kind && GalleryWrites(*kind) ? t.symbol + kind->extension : "";
}

// The names of a gallery's set: each transition's file at every place of the
// page (a video too, where this orvplay writes none, so that an old one
// goes), and the page.
std::function<bool(const std::string&)> GalleryNames(const Stage& stage) {
  std::vector<std::string> names{"index.html"};
  for (const Transition& t : stage.transitions())
    for (const OutputKind& k : kOutputKinds)
      if (k.gallery != GalleryPlace::kNone) names.push_back(t.symbol + k.extension);
  return [names](const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
}

// The transitions to play: every one, or the one named, checked against the
// other options.
std::vector<const Transition*> ChooseTransitions(const Stage& stage, const Options& o) {
  std::vector<const Transition*> chosen;
  if (o.all) {
    for (const Transition& t : stage.transitions()) chosen.push_back(&t);
    return chosen;
  }
  chosen.push_back(&FindTransition(stage, o.transition));
  if (o.color && !chosen[0]->takesColor) {
    std::string takers;
    for (const Transition& t : stage.transitions())
      if (t.takesColor) takers += (takers.empty() ? "" : ", ") + t.symbol;
    throw UsageError("--color is for " + takers + " only, not " + chosen[0]->symbol);
  }
  if (const OutputKind* kind = OutputKindFor(o.out); kind && kind->IsVideo() && !kVideoBuilt)
    throw std::runtime_error(o.out + ": " + NoVideoReason());
  return chosen;
}

// Every output, opened before any work, so that a folder or name that cannot
// be written stops the run at once.
struct Opened {
  std::unique_ptr<orvtools::FolderOutput> folder;  // --out-dir or --frames
  std::unique_ptr<orvtools::OutputFile> single;    // --out
};

// What a pipe or device as --out can take: a kind written front to back,
// alone (it cannot wait to be replaced together with a frame set).
void CheckStreamOutput(const Options& o) {
  if (o.out.empty() || !orvtools::IsStream(o.out)) return;
  const OutputKind& kind = *OutputKindFor(o.out);
  if (!kind.streams)
    throw UsageError("--out " + o.out + " is a pipe or device, and " + kind.extension +
                     " video goes back to finish its header: name a file");
  if (!o.framesDir.empty())
    throw UsageError("--out " + o.out +
                     " is a pipe or device, which cannot be held back until --frames " +
                     o.framesDir + " is ready: give it alone");
}

// No output may replace or delete a picture the run reads: --out the same
// file as --from or --to (by any name or link), or an output folder holding
// one under a name of the set the run replaces. Nor may --out be a file of
// that set, which the set's swap would take away. Nor may one pipe be both
// pictures.
void CheckOutputsApart(const Stage& stage, const Options& o) {
  struct stat in[2]{};
  const std::string* names[2] = {&o.from, &o.to};
  const char* options[2] = {"--from", "--to"};
  bool present[2] = {};
  for (int i = 0; i < 2; ++i)
    present[i] = !names[i]->empty() && ::stat(names[i]->c_str(), &in[i]) == 0;
  // A pipe gives its bytes once: the second reader would wait forever.
  if (present[0] && present[1] && in[0].st_dev == in[1].st_dev && in[0].st_ino == in[1].st_ino &&
      !S_ISREG(in[0].st_mode) && !S_ISDIR(in[0].st_mode))
    throw UsageError("--from " + o.from + " and --to " + o.to +
                     " are the same pipe or device, which gives its bytes only once: give "
                     "two pictures");
  auto check = [&](const struct stat& st, const std::string& what) {
    for (int i = 0; i < 2; ++i)
      if (present[i] && st.st_dev == in[i].st_dev && st.st_ino == in[i].st_ino)
        throw UsageError(what + " is the same file as " + options[i] + " " + *names[i] +
                         ", which the run reads: choose another output");
  };
  struct stat st {};
  struct stat out {};
  const bool outPresent = !o.out.empty() && ::stat(o.out.c_str(), &out) == 0;
  if (outPresent) check(out, "--out " + o.out);
  const std::string& dir = o.framesDir.empty() ? o.outDir : o.framesDir;
  // Nor may the clean-up of what a stopped run left take a picture.
  for (int i = 0; i < 2; ++i) {
    if (!present[i]) continue;
    std::string where, taken;
    if (!dir.empty() && fs::is_directory(dir)) {
      where = dir;
      taken = orvtools::CleanUpTaking(dir, true, in[i]);
    }
    if (taken.empty() && !o.out.empty() && !orvtools::IsStream(o.out)) {
      std::error_code ec;
      const fs::path parent = fs::weakly_canonical(fs::absolute(o.out), ec).parent_path();
      where = parent.string();
      taken = orvtools::CleanUpTaking(where, false, in[i]);
    }
    if (!taken.empty())
      throw UsageError(std::string(options[i]) + " " + *names[i] + " is in " +
                       (fs::path(where) / taken).string() +
                       ", which a stopped run left and this run would clean away: move it "
                       "out first");
  }
  if (dir.empty()) return;
  const auto owned = o.framesDir.empty() ? GalleryNames(stage) : IsFrameSetName;
  auto inTheSet = [&] {
    throw UsageError("--out " + o.out + " is a file of the set --frames " + dir +
                     " replaces: choose another name");
  };
  if (!o.out.empty() && owned(fs::path(o.out).filename().string())) {
    std::error_code ec;
    const fs::path parent =
        fs::path(o.out).parent_path().empty() ? fs::path(".") : fs::path(o.out).parent_path();
    if (fs::equivalent(parent, dir, ec) ||
        (parent / "").lexically_normal() == (fs::path(dir) / "").lexically_normal())
      inTheSet();
  }
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (!owned(name) || ::lstat(entry.path().c_str(), &st) != 0) continue;
    check(st, (o.framesDir.empty() ? "--out-dir " : "--frames ") + dir + ": " + name);
    if (outPresent && st.st_dev == out.st_dev && st.st_ino == out.st_ino) inTheSet();
  }
}

Opened OpenOutputs(const Stage& stage, const Options& o) {
  Opened opened;
  if (!o.outDir.empty())
    opened.folder = std::make_unique<orvtools::FolderOutput>(o.outDir, o.force, "--out-dir",
                                                             GalleryNames(stage));
  if (!o.framesDir.empty())
    opened.folder =
        std::make_unique<orvtools::FolderOutput>(o.framesDir, o.force, "--frames", IsFrameSetName);
  if (!o.out.empty()) opened.single = std::make_unique<orvtools::OutputFile>(o.out);
  return opened;
}

std::runtime_error DifferInSize(const Options& o, int64_t fromW, int64_t fromH, int64_t toW,
                                int64_t toH) {
  return std::runtime_error("the pictures differ in size: " + o.from + " is " +
                            SizeText(fromW, fromH) + ", " + o.to + " is " + SizeText(toW, toH));
}

// A picture's declared size from its header. A file whose header cannot be
// read is decoded at once, which stops at the header and says why, before
// any output is opened (opening a pipe would wait for its reader first).
std::optional<PictureSize> HeaderSize(const std::string& path) {
  std::optional<PictureSize> size = ReadPngSize(path);
  if (!size && !orvtools::IsStream(path)) ReadPng(path);
  return size;
}

// The size the user's pictures declare in their headers, checked against the
// limits, their files' sizes and each other before either is decoded; none
// for a pipe or device, which is read as it comes, or the built-in pictures.
std::optional<PictureSize> DeclaredSize(const Options& o) {
  if (o.from.empty()) return std::nullopt;
  const std::optional<PictureSize> from = HeaderSize(o.from), to = HeaderSize(o.to);
  if (!from || !to) return std::nullopt;
  if (from->width != to->width || from->height != to->height)
    throw DifferInSize(o, from->width, from->height, to->width, to->height);
  return from;
}

// The encoders a run uses: --out's, or the gallery's.
std::vector<const VideoCodecFacts*> VideoCodecsOf(const Options& o) {
  std::vector<const VideoCodecFacts*> codecs;
  if (const OutputKind* kind = OutputKindFor(o.out); kind && kind->IsVideo())
    codecs.push_back(&CodecFor(*kind, o.lossless));
  if (o.all && !o.outDir.empty())
    for (const OutputKind& k : kOutputKinds)
      if (k.IsVideo() && GalleryWrites(k)) codecs.push_back(&CodecFor(k, false));
  return codecs;
}

// A run that cannot fit under the process's own limit on its address space
// (ulimit -v) is refused before any work. The need is counted low (resident
// memory, which the address space always exceeds), so that no run that could
// fit is refused; without a limit nothing is guessed.
void CheckMemoryLimit(const Options& o, int64_t width, int64_t height) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return;
  const int64_t pixels = width * height;
  int64_t need = pixels * kRunBytesPerPixel;
  std::string what;
  for (const VideoCodecFacts* codec : VideoCodecsOf(o)) {
    need += VideoBytes(*codec, pixels);
    what += std::string(what.empty() ? " with " : " and ") + codec->name;
  }
  need = need / 10 * 9;
  constexpr int64_t kMiB = 1 << 20;
  if (uint64_t(need) > uint64_t(limit.rlim_cur))
    throw std::runtime_error("out of memory: a " + SizeText(width, height) + " run" + what +
                             " needs more than " + std::to_string(need / kMiB) +
                             " MiB, and the address space is limited to " +
                             std::to_string(int64_t(limit.rlim_cur) / kMiB) + " MiB (ulimit -v)");
}

// What the size alone decides: the rectangle, the duration, the memory.
HostRect CheckSize(const Options& o, int64_t width, int64_t height) {
  const HostRect rect = CheckedRect(o, width, height);
  CheckStepRange(o, width, height);
  CheckMemoryLimit(o, width, height);
  return rect;
}

// The two pictures: the user's, of one size, or the built-in ones.
std::pair<Picture, Picture> LoadPictures(const Options& o) {
  if (o.from.empty()) return {BuiltinFromPicture(), BuiltinToPicture()};
  Picture from = ReadPng(o.from), to = ReadPng(o.to);
  if (from.width != to.width || from.height != to.height)
    throw DifferInSize(o, from.width, from.height, to.width, to.height);
  return {std::move(from), std::move(to)};
}

// --all: every transition into the folder, then the page that shows them.
Played PlayGallery(Stage& stage, const std::vector<const Transition*>& chosen, const Options& o,
                   const Picture& from, const Picture& to, const HostRect& rect,
                   orvtools::FolderOutput* folder,
                   const std::function<void(const Played&)>& announce) {
  Played played;
  std::vector<GalleryEntry> gallery;
  for (const Transition* t : chosen) {
    // The page shows the video where there is one, the GIF where video
    // cannot play.
    Destinations d;
    if (folder)
      for (const OutputKind& k : kOutputKinds)
        if (GalleryWrites(k)) d.files.push_back(folder->Open(t->symbol + k.extension));
    const Played p = PlayOne(stage, *t, o, from, to, rect, std::move(d), {});
    played.steps += p.steps;
    gallery.push_back({t->displayName, t->symbol, t->category,
                       SettingsText(o, SettingsFor(o, *t, rect), t->takesColor),
                       GalleryFile(*t, GalleryPlace::kAnimation),
                       GalleryFile(*t, GalleryPlace::kSheet), GalleryFile(*t, GalleryPlace::kVideo),
                       from.width, from.height, p.steps});
  }
  if (!folder) {
    played.where.push_back("memory");
    announce(played);
    return played;
  }
  const std::string page = GalleryPage("ORVPACK1.x32 transitions", gallery);
  WriteAll(*folder->Open("index.html"), std::vector<uint8_t>(page.begin(), page.end()));
  played.where.push_back((fs::path(o.outDir) / "index.html").string());
  orvtools::CommitAll({folder}, [&] { announce(played); });
  return played;
}

// "OrvFade: 62 steps at 32 bits in 0.25 s -> fade.gif" on standard output.
void PrintSummary(const std::string& what, const Played& played, const Options& o,
                  std::chrono::steady_clock::time_point start) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::string list;
  for (const auto& w : played.where) list += (list.empty() ? "" : ", ") + w;
  std::printf("%s: %d steps at %d bits in %.2f s -> %s\n", what.c_str(), played.steps, o.depth,
              seconds, list.c_str());
  orvtools::FinishStandardOutput();
}

int Run(const Options& o) {
  const auto start = std::chrono::steady_clock::now();
  Stage stage(orvtools::CheckStop);
  if (o.list) {
    PrintList(stage);
    orvtools::FinishStandardOutput();
    return 0;
  }
  const std::vector<const Transition*> chosen = ChooseTransitions(stage, o);
  CheckStreamOutput(o);
  CheckOutputsApart(stage, o);
  // The pictures' headers before any output is opened: a refused run
  // changes nothing, not even what a stopped run left.
  if (const auto size = DeclaredSize(o)) CheckSize(o, size->width, size->height);
  Opened opened = OpenOutputs(stage, o);
  const auto [from, to] = LoadPictures(o);
  const HostRect rect = CheckSize(o, from.width, from.height);

  // The summary goes out, checked, before any output is in place.
  if (o.all) {
    PlayGallery(stage, chosen, o, from, to, rect, opened.folder.get(), [&](const Played& played) {
      PrintSummary(std::to_string(chosen.size()) + " transitions", played, o, start);
    });
  } else {
    Destinations d;
    if (opened.single) d.files.push_back(std::move(opened.single));
    d.frames = opened.folder.get();
    PlayOne(stage, *chosen[0], o, from, to, rect, std::move(d),
            [&](const Played& played) { PrintSummary(chosen[0]->displayName, played, o, start); });
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  orvtools::OpenStandardDescriptors();
  orvtools::CatchStopSignals();
  try {
    const Options options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help || options.version) {
      if (options.help)
        std::fputs(Usage().c_str(), stdout);
      else
        std::printf("orvplay %s\n", ORV_VERSION);
      orvtools::FinishStandardOutput();
      return 0;
    }
    return Run(options);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "orvplay: %s\n(orvplay --help shows the options)\n", e.what());
    return orvtools::kExitUsage;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "orvplay: out of memory\n");
    return orvtools::kExitFailed;
  } catch (const std::exception& e) {
    const int signal = orvtools::StopSignal();
    std::fprintf(stderr, "orvplay: %s\n", signal ? orvtools::Stopped(signal).what() : e.what());
    if (signal) return 128 + signal;
    return orvtools::kExitFailed;
  }
}
