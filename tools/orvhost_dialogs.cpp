#include "tools/orvhost_dialogs.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/dialog_runner.h"
#include "host/member.h"
#include "module/class_ids.h"
#include "platform/standin/gdi_draw.h"
#include "tools/args.h"
#include "tools/png_io.h"
#include "tools/safe_output.h"

using namespace orv::module;

namespace orvhost {

namespace {

using orvtools::UsageError;

// --out FILE.png, opened before any work: the file is a PNG, so another
// name would say what it is not. A pipe or device keeps its own name.
std::unique_ptr<orvtools::OutputFile> OpenOut(const orvtools::Args& args) {
  const auto out = args.Value("--out");
  if (!out) return nullptr;
  if (!orvtools::IsStream(*out)) orvtools::CheckOutputName("--out", *out, {".png"});
  return std::make_unique<orvtools::OutputFile>(*out);
}

// Writes the picture; it is put in place by PutInPlace, once all that the
// command says is out.
void WritePng(const orvplay::Picture& picture, orvtools::OutputFile& file) {
  const std::vector<uint8_t> bytes = orvplay::EncodePng(picture);
  file.Write(bytes.data(), bytes.size());
  std::printf("wrote %s (%d x %d)\n", file.path().c_str(), picture.width, picture.height);
}

// Standard output, flushed and checked, then the file in place: a failure to
// tell leaves the user's file as it was.
void PutInPlace(orvtools::OutputFile* file, bool written) {
  if (file && written)
    orvtools::CommitAll({file}, orvtools::FinishStandardOutput);
  else
    orvtools::FinishStandardOutput();
}

void WriteScreenshot(const Screenshot& shot, orvtools::OutputFile& file) {
  orvplay::Picture picture(shot.width, shot.height);
  for (int32_t y = 0; y < shot.height; ++y)
    for (int32_t x = 0; x < shot.width; ++x) {
      const uint32_t c = shot.pixels[static_cast<size_t>(y) * shot.width + x];
      uint8_t* p = picture.At(x, y);
      p[0] = static_cast<uint8_t>(c >> 16), p[1] = static_cast<uint8_t>(c >> 8);
      p[2] = static_cast<uint8_t>(c);
    }
  WritePng(picture, file);
}

std::string RectText(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + " - " + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

std::string Checked(const std::vector<ControlState>& controls) {
  std::string out;
  for (const ControlState& c : controls)
    if (c.checked) out += (out.empty() ? "\"" : ", \"") + c.text + "\"";
  return out.empty() ? "none" : out;
}

// A colour member, its media holding color when given.
void PlaceColourMember(Host& host, Member& member, std::optional<uint32_t> color) {
  if (HResult rc = RegisterTransitions(host))
    throw std::runtime_error("Register failed with " + std::to_string(rc));
  if (HResult rc = member.Place(host, *host.registry.at(orv::module::kColorTransition)))
    throw std::runtime_error("placing the colour member failed with " + std::to_string(rc));
  if (!color) return;
  if (HResult rc = member.LoadColorChoice(host, static_cast<int32_t>(*color)))
    throw std::runtime_error("loading the media failed with " + std::to_string(rc));
}

// The member's ColorChoice, read back from its media.
int32_t ColorChoice(Host& host, Member& member) {
  int32_t choice = 0;
  if (HResult rc = member.SavedColorChoice(host, &choice))
    throw std::runtime_error("saving the media failed with " + std::to_string(rc));
  return choice;
}

void SetUpRunner(DialogRunner& runner, const orvtools::Args& args) {
  if (const auto script = args.Value("--script")) {
    std::string error;
    if (!ParseDialogScript(*script, &runner.script, &error)) throw UsageError("--script: " + error);
  }
  runner.capture = args.Has("--out");
}

// Every action of the script did something: a click names a control of the
// dialog, and no action came after the dialog had ended.
void CheckScript(const DialogRunner& runner) {
  if (runner.runs.empty() || !runner.runs.back().created) return;
  const DialogRun& run = runner.runs.back();
  for (const DialogAction& action : runner.script)
    if (action.kind == DialogAction::kClick && !run.Control(action.id, true))
      throw UsageError("--script: 'click " + std::to_string(action.id) +
                       "' matches no control of dialog " + std::to_string(run.dialogId));
  if (run.actionsApplied < int(runner.script.size()))
    throw std::runtime_error("--script: only " + std::to_string(run.actionsApplied) + " of its " +
                             std::to_string(runner.script.size()) +
                             " actions took effect (the dialog ended first or a control "
                             "refused the click)");
}

// Whether it wrote the dialog's picture into `out`.
bool Report(const DialogRunner& runner, orvtools::OutputFile* out) {
  if (runner.runs.empty()) {
    std::printf("no dialog was run\n");
    return false;
  }
  const DialogRun& run = runner.runs.back();
  if (!run.created) {
    std::printf("dialog %d could not be made from its template\n", run.dialogId);
    return false;
  }
  std::printf("dialog %d: window %s, stage %s\n", run.dialogId, RectText(run.rectAfterInit).c_str(),
              RectText(run.ownerRect).c_str());
  std::printf("actions applied: %d; %s\n", run.actionsApplied,
              run.ended ? ("ended with " + std::to_string(run.result)).c_str()
                        : "still open: closed by the host");
  if (out) WriteScreenshot(run.picture, *out);
  return out != nullptr;
}

}  // namespace

int OptionsCommand(Host& host, int argc, char** argv) {
  const orvtools::Args args(argc, argv,
                            {{{"--color"}, true}, {{"--script"}, true}, {{"--out"}, true}});
  args.AtMostPositional(0, "options");
  // The media word as it is stored: any 32-bit value, written signed or not.
  std::optional<uint32_t> color;
  if (const auto text = args.Value("--color"))
    color = uint32_t(orvtools::ParseWhole("--color", *text, INT32_MIN, UINT32_MAX));
  const auto out = OpenOut(args);
  Member member;
  PlaceColourMember(host, member, color);
  DialogRunner runner(host);
  SetUpRunner(runner, args);
  const int32_t before = ColorChoice(host, member);
  const HResult rc = member.ops().RunOptions(member.asset);
  CheckScript(runner);
  const bool written = Report(runner, out.get());
  if (!runner.runs.empty() && runner.runs.back().created) {
    std::printf("checked at start: %s; at the end: %s\n",
                Checked(runner.runs.back().afterInit).c_str(),
                Checked(runner.runs.back().atEnd).c_str());
  }
  std::printf("RunOptions: %d; ColorChoice %d -> %d\n", rc, before, ColorChoice(host, member));
  PutInPlace(out.get(), written);
  return 0;
}

int AboutCommand(Host& host, int argc, char** argv) {
  const orvtools::Args args(argc, argv, {{{"--script"}, true}, {{"--out"}, true}});
  args.AtMostPositional(0, "about");
  const auto out = OpenOut(args);
  Member member;
  PlaceColourMember(host, member, std::nullopt);
  DialogRunner runner(host);
  SetUpRunner(runner, args);
  const HResult rc = member.ops().RunAbout(member.asset);
  CheckScript(runner);
  const bool written = Report(runner, out.get());
  if (!runner.runs.empty() && runner.runs.back().created) {
    const ControlState* badge = runner.runs.back().Control(1005);
    std::printf("MMX badge: %s\n", badge && badge->visible ? "shown" : "hidden");
  }
  std::printf("RunAbout: %d\n", rc);
  PutInPlace(out.get(), written);
  return 0;
}

int ThumbnailCommand(Host& host, int argc, char** argv) {
  const orvtools::Args args(argc, argv,
                            {{{"--out"}, true},
                             {{"--rect"}, true},
                             {{"--size"}, true},
                             {{"--depth"}, true},
                             {{"--zoom"}, true}});
  args.AtMostPositional(0, "thumbnail");
  if (!args.Has("--out")) throw UsageError("thumbnail needs --out FILE.png");
  std::vector<int64_t> r{0, 0, 40, 60};
  if (const auto text = args.Value("--rect"))
    r = orvtools::ParseWholeList("--rect", *text, ',', 4, INT32_MIN, INT32_MAX);
  const HostRect rect{int32_t(r[0]), int32_t(r[1]), int32_t(r[2]), int32_t(r[3])};
  // By default the surface just holds the rectangle.
  std::vector<int64_t> size{std::max<int64_t>({r[1], r[3], 1}), std::max<int64_t>({r[0], r[2], 1})};
  if (const auto text = args.Value("--size"))
    size = orvtools::ParseWholeList("--size", *text, 'x', 2, 1, orvplay::kMaxSide);
  int32_t depth = 32;
  if (const auto text = args.Value("--depth")) {
    static const int32_t kDepths[] = {8, 16, 24, 32};
    depth = kDepths[orvtools::ParseChoice("--depth", *text, {"8", "16", "24", "32"})];
  }
  const int64_t zoom = args.Whole("--zoom", 1, 16, 1);
  const std::string problem = orvplay::PictureSizeProblem(
      "the thumbnail at --zoom " + std::to_string(zoom), size[0] * zoom, size[1] * zoom);
  if (!problem.empty()) throw UsageError(problem);
  const auto out = OpenOut(args);
  const int32_t w = int32_t(size[0]), h = int32_t(size[1]), z = int32_t(zoom);

  Member member;
  PlaceColourMember(host, member, std::nullopt);
  auto surface = host.NewSurface("thumbnail", w, h, depth);
  // A grey background, so that the rectangle shows.
  std::vector<uint8_t> grey(static_cast<size_t>(w) * 3, 0x80);
  for (int32_t y = 0; y < h; ++y) orvplay::PackRow(grey.data(), w, depth, surface->Row(y));
  const int32_t gdiBefore = OrvLiveGdiObjects();
  const HResult rc = member.ops().PaintThumbnail(member.asset, surface.get(), &rect);
  std::printf(
      "PaintThumbnail: %d; rect top %d left %d bottom %d right %d on %d x %d, %d bits; "
      "GDI objects left: %d\n",
      rc, rect.top, rect.left, rect.bottom, rect.right, w, h, depth,
      OrvLiveGdiObjects() - gdiBefore);
  orvplay::Picture picture(w * z, h * z);
  std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
  for (int32_t y = 0; y < h; ++y) {
    orvtools::CheckStop();
    orvplay::UnpackRow(surface->Row(y), w, depth, row.data());
    for (int32_t zy = 0; zy < z; ++zy)
      for (int32_t x = 0; x < w * z; ++x)
        std::copy_n(&row[static_cast<size_t>(x / z) * 3], 3, picture.At(x, y * z + zy));
  }
  WritePng(picture, *out);
  PutInPlace(out.get(), true);
  return 0;
}

}  // namespace orvhost
