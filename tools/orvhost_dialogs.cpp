#include "tools/orvhost_dialogs.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/dialog_runner.h"
#include "host/member.h"
#include "platform/standin/gdi_draw.h"
#include "tools/orvplay/png_io.h"

namespace orvhost {

namespace {

constexpr int32_t kColorTransition = 5;

// --name value pairs; a lone or unknown option is a usage error.
class Args {
 public:
  Args(int argc, char** argv, std::vector<std::string> known) {
    for (int i = 0; i < argc; ++i) {
      const std::string name = argv[i];
      bool ok = false;
      for (const std::string& k : known) ok |= name == "--" + k;
      if (!ok || i + 1 >= argc) throw Usage("unexpected '" + name + "'");
      values_.emplace_back(name.substr(2), argv[++i]);
    }
  }
  const std::string* Get(const std::string& name) const {
    for (const auto& [k, v] : values_)
      if (k == name) return &v;
    return nullptr;
  }
  struct Usage : std::runtime_error {
    using std::runtime_error::runtime_error;
  };

 private:
  std::vector<std::pair<std::string, std::string>> values_;
};

int32_t Number(const std::string& text) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end) throw Args::Usage("not a number: '" + text + "'");
  return static_cast<int32_t>(v);
}

std::vector<int32_t> Numbers(const std::string& text, char separator, size_t count) {
  std::vector<int32_t> out;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    out.push_back(Number(text.substr(start, end == std::string::npos ? end : end - start)));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (out.size() != count)
    throw Args::Usage("'" + text + "' needs " + std::to_string(count) + " numbers");
  return out;
}

void WritePng(const orvplay::Picture& picture, const std::string& path) {
  const std::vector<uint8_t> bytes = orvplay::EncodePng(picture);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
  std::printf("wrote %s (%d x %d)\n", path.c_str(), picture.width, picture.height);
}

void WriteScreenshot(const Screenshot& shot, const std::string& path) {
  orvplay::Picture picture(shot.width, shot.height);
  for (int32_t y = 0; y < shot.height; ++y)
    for (int32_t x = 0; x < shot.width; ++x) {
      const uint32_t c = shot.pixels[static_cast<size_t>(y) * shot.width + x];
      uint8_t* p = picture.At(x, y);
      p[0] = static_cast<uint8_t>(c >> 16), p[1] = static_cast<uint8_t>(c >> 8);
      p[2] = static_cast<uint8_t>(c);
    }
  WritePng(picture, path);
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
void PlaceColourMember(Host& host, Member& member, const std::string* color) {
  if (HResult rc = RegisterTransitions(host))
    throw std::runtime_error("Register failed with " + std::to_string(rc));
  if (HResult rc = member.Place(host, *host.registry.at(kColorTransition)))
    throw std::runtime_error("placing the colour member failed with " + std::to_string(rc));
  if (!color) return;
  const auto v = static_cast<uint32_t>(Number(*color));
  auto stream = host.NewStream();
  stream->bytes = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                   static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  if (HResult rc = member.Load(*stream))
    throw std::runtime_error("loading the media failed with " + std::to_string(rc));
}

void SetUpRunner(DialogRunner& runner, const Args& options) {
  if (const std::string* script = options.Get("script")) {
    std::string error;
    if (!ParseDialogScript(*script, &runner.script, &error)) throw Args::Usage(error);
  }
  runner.capture = options.Get("out") != nullptr;
}

void Report(const DialogRunner& runner, const std::string* out) {
  if (runner.runs.empty()) {
    std::printf("no dialog was run\n");
    return;
  }
  const DialogRun& run = runner.runs.back();
  if (!run.created) {
    std::printf("dialog %d could not be made from its template\n", run.dialogId);
    return;
  }
  std::printf("dialog %d: window %s, stage %s\n", run.dialogId, RectText(run.rectAfterInit).c_str(),
              RectText(run.ownerRect).c_str());
  std::printf("actions applied: %d; %s\n", run.actionsApplied,
              run.ended ? ("ended with " + std::to_string(run.result)).c_str()
                        : "still open: closed by the host");
  if (out) WriteScreenshot(run.picture, *out);
}

// Runs a command; a usage error prints the usage and gives 2.
template <class Command>
int WithUsage(Command command) {
  try {
    return command();
  } catch (const Args::Usage& e) {
    std::fprintf(stderr, "orvhost: %s\nusage:\n%s", e.what(), kDialogCommandsUsage);
    return 2;
  }
}

int ShowOptions(Host& host, int argc, char** argv) {
  const Args options(argc, argv, {"color", "script", "out"});
  Member member;
  PlaceColourMember(host, member, options.Get("color"));
  DialogRunner runner(host);
  SetUpRunner(runner, options);
  const int32_t before = member.fields().colorChoice;
  const HResult rc = member.ops().RunOptions(member.asset);
  Report(runner, options.Get("out"));
  if (!runner.runs.empty() && runner.runs.back().created) {
    std::printf("checked at start: %s; at the end: %s\n",
                Checked(runner.runs.back().afterInit).c_str(),
                Checked(runner.runs.back().atEnd).c_str());
  }
  std::printf("RunOptions: %d; ColorChoice %d -> %d\n", rc, before, member.fields().colorChoice);
  return 0;
}

int ShowAbout(Host& host, int argc, char** argv) {
  const Args options(argc, argv, {"script", "out"});
  Member member;
  PlaceColourMember(host, member, nullptr);
  DialogRunner runner(host);
  SetUpRunner(runner, options);
  const HResult rc = member.ops().RunAbout(member.asset);
  Report(runner, options.Get("out"));
  if (!runner.runs.empty() && runner.runs.back().created) {
    const ControlState* badge = runner.runs.back().Control(1005);
    std::printf("MMX badge: %s\n", badge && badge->visible ? "shown" : "hidden");
  }
  std::printf("RunAbout: %d\n", rc);
  return 0;
}

int ShowThumbnail(Host& host, int argc, char** argv) {
  const Args options(argc, argv, {"out", "rect", "size", "depth", "zoom"});
  const std::string* out = options.Get("out");
  if (!out) throw Args::Usage("thumbnail needs --out FILE.png");
  const std::vector<int32_t> r = options.Get("rect") ? Numbers(*options.Get("rect"), ',', 4)
                                                     : std::vector<int32_t>{0, 0, 40, 60};
  const HostRect rect{r[0], r[1], r[2], r[3]};
  // By default the surface just holds the rectangle.
  std::vector<int32_t> size{std::max({rect.left, rect.right, 1}),
                            std::max({rect.top, rect.bottom, 1})};
  if (const std::string* s = options.Get("size")) size = Numbers(*s, 'x', 2);
  const int32_t depth = options.Get("depth") ? Number(*options.Get("depth")) : 32;
  const int32_t zoom = options.Get("zoom") ? Number(*options.Get("zoom")) : 1;
  if (size[0] <= 0 || size[1] <= 0 || zoom <= 0 || zoom > 16 || !orvplay::IsStageDepth(depth))
    throw Args::Usage("bad --size, --zoom or --depth");

  Member member;
  PlaceColourMember(host, member, nullptr);
  auto surface = host.NewSurface("thumbnail", size[0], size[1], depth);
  // A grey background, so that the rectangle shows.
  std::vector<uint8_t> grey(static_cast<size_t>(size[0]) * 3, 0x80);
  for (int32_t y = 0; y < size[1]; ++y)
    orvplay::PackRow(grey.data(), size[0], depth, surface->Row(y));
  const int32_t gdiBefore = OrvLiveGdiObjects();
  const HResult rc = member.ops().PaintThumbnail(member.asset, surface.get(), &rect);
  std::printf(
      "PaintThumbnail: %d; rect top %d left %d bottom %d right %d on %d x %d, %d bits; "
      "GDI objects left: %d\n",
      rc, rect.top, rect.left, rect.bottom, rect.right, size[0], size[1], depth,
      OrvLiveGdiObjects() - gdiBefore);
  orvplay::Picture picture(size[0] * zoom, size[1] * zoom);
  std::vector<uint8_t> row(static_cast<size_t>(size[0]) * 3);
  for (int32_t y = 0; y < size[1]; ++y) {
    orvplay::UnpackRow(surface->Row(y), size[0], depth, row.data());
    for (int32_t zy = 0; zy < zoom; ++zy)
      for (int32_t x = 0; x < size[0] * zoom; ++x)
        std::copy_n(&row[static_cast<size_t>(x / zoom) * 3], 3, picture.At(x, y * zoom + zy));
  }
  WritePng(picture, *out);
  return 0;
}

}  // namespace

int OptionsCommand(Host& host, int argc, char** argv) {
  return WithUsage([&] { return ShowOptions(host, argc, argv); });
}

int AboutCommand(Host& host, int argc, char** argv) {
  return WithUsage([&] { return ShowAbout(host, argc, argv); });
}

int ThumbnailCommand(Host& host, int argc, char** argv) {
  return WithUsage([&] { return ShowThumbnail(host, argc, argv); });
}

}  // namespace orvhost
