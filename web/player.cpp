// The page's side of the module: the stand-in host with the module linked in,
// driven one step at a time from the page's script. Every frame the page
// draws comes through the host's path (a registry entry, a member, MakeActor,
// Cue, Continue, Finish), the same path orvplay takes.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "asset/options_dialog.h"
#include "host/stand_in_host.h"
#include "platform/standin/dialog_template.h"
#include "resources/module_resources.h"
#include "tools/orvplay/builtin_pictures.h"
#include "tools/orvplay/stage.h"
#include "tools/picture.h"

using orvplay::Picture;

namespace {

// The kernel set this build carries (named by its build).
constexpr const char* kKernels = ORV_WEB_KERNELS;

struct Player {
  std::unique_ptr<orvplay::Stage> stage;
  Picture pictures[2];  // what the window shows first, what it shows at the end
  std::unique_ptr<orvplay::Playback> playback;
  std::vector<uint8_t> rgba;  // what the window shows, top row first
  std::string error, about;
};

Player& ThePlayer() {
  static Player player;
  return player;
}

orvplay::Stage& Started() {
  Player& p = ThePlayer();
  if (!p.stage) throw std::logic_error("the module is not started");
  return *p.stage;
}

orvplay::Playback& Cued() {
  Player& p = ThePlayer();
  if (!p.playback) throw std::logic_error("nothing is cued");
  return *p.playback;
}

// A control's text as the dialog shows it: "&&" is an ampersand, a lone "&"
// marks the next letter as the control's key and is not shown.
std::string Shown(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && ++i == text.size()) break;
    out += text[i];
  }
  return out;
}

// The colours as the module's options dialog names them, in ColorChoice
// order, read from the dialog template the module carries.
std::vector<std::string> ColourCaptions() {
  // The module's resources under a handle of the page's own.
  const auto handle =
      reinterpret_cast<HMODULE>(const_cast<ModuleResourceTable*>(&kModuleResources));
  OrvRegisterModuleResources(handle, &kModuleResources);
  orv::standin::DialogTemplate dialog;
  const bool loaded =
      orv::standin::LoadTemplate(handle, MAKEINTRESOURCEA(orv::asset::kOptionsDialog), &dialog);
  OrvRegisterModuleResources(handle, nullptr);
  if (!loaded) throw std::runtime_error("the module's options dialog cannot be read");
  std::vector<std::string> captions(orvplay::kColorNames.size());
  for (const orv::standin::ItemTemplate& item : dialog.items) {
    const int choice = item.id - orv::asset::kFirstColorButton;
    if (choice >= 0 && size_t(choice) < captions.size())
      captions[size_t(choice)] = Shown(item.text);
  }
  for (const std::string& caption : captions)
    if (caption.empty()) throw std::runtime_error("the module's options dialog lacks a colour");
  return captions;
}

// Runs a call from the page: any failure becomes the text orv_error returns,
// and the call returns `failed`.
template <typename F>
auto Guarded(F&& call, decltype(call()) failed) -> decltype(call()) {
  Player& p = ThePlayer();
  p.error.clear();
  try {
    return call();
  } catch (const std::bad_alloc&) {
    p.error = "out of memory: the page's module grows to 4 GB at most";
  } catch (const std::exception& e) {
    p.error = e.what();
  }
  return failed;
}

}  // namespace

extern "C" {

// Registers the module's transitions. Returns what the page shows in its
// controls as JSON, or null (orv_error says why).
EMSCRIPTEN_KEEPALIVE const char* orv_start() {
  return Guarded(
      []() -> const char* {
        Player& p = ThePlayer();
        p.stage = std::make_unique<orvplay::Stage>();
        nlohmann::json transitions = nlohmann::json::array();
        for (const orvplay::Transition& t : p.stage->transitions())
          transitions.push_back({{"symbol", t.symbol},
                                 {"name", t.displayName},
                                 {"duration", t.defaultDuration},
                                 {"chunk", t.defaultChunkSize},
                                 {"color", t.takesColor}});
        p.about = nlohmann::json{{"kernels", kKernels},
                                 {"maxSide", orvplay::kMaxSide},
                                 {"maxPixels", orvplay::kMaxPixels},
                                 {"defaultColor", orvplay::kDefaultColorChoice},
                                 {"colors", ColourCaptions()},
                                 {"transitions", transitions}}
                      .dump();
        return p.about.c_str();
      },
      nullptr);
}

EMSCRIPTEN_KEEPALIVE const char* orv_error() { return ThePlayer().error.c_str(); }

// Both pictures become the two built-in ones.
EMSCRIPTEN_KEEPALIVE int orv_use_builtin() {
  return Guarded(
      [] {
        Player& p = ThePlayer();
        p.playback.reset();
        p.pictures[0] = orvplay::BuiltinFromPicture();
        p.pictures[1] = orvplay::BuiltinToPicture();
        return 0;
      },
      1);
}

// Picture 0 (from) or 1 (to) from the browser's decoding: R, G, B, A per
// pixel, top row first. The alpha is dropped, as orvplay drops it.
EMSCRIPTEN_KEEPALIVE int orv_set_picture(int which, const uint8_t* rgba, int width, int height) {
  return Guarded(
      [&] {
        Player& p = ThePlayer();
        if (which != 0 && which != 1)
          throw std::invalid_argument("no picture slot " + std::to_string(which));
        const std::string problem = orvplay::PictureSizeProblem(
            which ? "the second picture" : "the first picture", width, height);
        if (!problem.empty()) throw std::invalid_argument(problem);
        p.playback.reset();
        Picture& picture = p.pictures[which];
        picture = Picture();  // the old one goes before the new one is made
        picture = Picture(width, height, Picture::Unset{});
        const size_t pixels = size_t(width) * size_t(height);
        for (size_t i = 0; i < pixels; ++i) {
          picture.rgb[3 * i] = rgba[4 * i];
          picture.rgb[3 * i + 1] = rgba[4 * i + 1];
          picture.rgb[3 * i + 2] = rgba[4 * i + 2];
        }
        return 0;
      },
      1);
}

// The pictures change places: the first becomes the second.
EMSCRIPTEN_KEEPALIVE void orv_swap_pictures() {
  Player& p = ThePlayer();
  p.playback.reset();
  std::swap(p.pictures[0], p.pictures[1]);
}

// Picture `which` as the module gets it, sampled to width x height pixels
// (the nearest one each), R, G, B, 255 per pixel, top row first: the page's
// thumbnail. Valid until the next call; null for a size out of range.
EMSCRIPTEN_KEEPALIVE uint8_t* orv_thumbnail(int which, int width, int height) {
  return Guarded(
      [&]() -> uint8_t* {
        Player& p = ThePlayer();
        const Picture& picture = p.pictures[which & 1];
        if (width < 1 || height < 1 || width > picture.width || height > picture.height)
          throw std::invalid_argument("no thumbnail of " + std::to_string(width) + " x " +
                                      std::to_string(height));
        p.rgba.resize(size_t(width) * size_t(height) * 4);
        uint8_t* out = p.rgba.data();
        for (int y = 0; y < height; ++y)
          for (int x = 0; x < width; ++x, out += 4) {
            std::copy_n(picture.At(int32_t(int64_t(x) * picture.width / width),
                                   int32_t(int64_t(y) * picture.height / height)),
                        3, out);
            out[3] = 255;
          }
        return p.rgba.data();
      },
      nullptr);
}

// 0 when a picture named `name` of the size its file's header declares is
// within the limits, else 1 and orv_error says why in orv_set_picture's
// words; the page asks before decoding. Doubles: a PNG header's sides go
// past an int's range.
EMSCRIPTEN_KEEPALIVE int orv_size_problem(const char* name, double width, double height) {
  return Guarded(
      [&] {
        const std::string problem =
            orvplay::PictureSizeProblem(name, int64_t(width), int64_t(height));
        if (!problem.empty()) throw std::invalid_argument(problem);
        return 0;
      },
      1);
}

EMSCRIPTEN_KEEPALIVE int orv_width(int which) { return ThePlayer().pictures[which & 1].width; }
EMSCRIPTEN_KEEPALIVE int orv_height(int which) { return ThePlayer().pictures[which & 1].height; }

// A new playback of transition `index` (in the order orv_start listed),
// cued: the window shows the first picture. colour < 0 loads none. A
// playback still running is dropped first, as a host drops it.
EMSCRIPTEN_KEEPALIVE int orv_cue(int index, int depth, int duration, int chunk, int fps, int colour,
                                 int top, int left, int bottom, int right) {
  return Guarded(
      [&] {
        Player& p = ThePlayer();
        p.playback.reset();
        orvplay::Stage& stage = Started();
        const auto& transitions = stage.transitions();
        if (index < 0 || size_t(index) >= transitions.size())
          throw std::invalid_argument("no transition " + std::to_string(index));
        const orvplay::Transition& t = transitions[size_t(index)];
        orvplay::PlaySettings s;
        s.depth = depth;
        s.duration = duration;
        s.chunkSize = chunk;
        s.fps = fps;
        s.rect = {top, left, bottom, right};
        if (colour >= 0 && t.takesColor) s.colorChoice = colour;
        p.playback = std::make_unique<orvplay::Playback>(stage, t, s, p.pictures[0], p.pictures[1]);
        return 0;
      },
      1);
}

// One step at the elapsed time: 1 once the actor reports done, 0 before,
// -1 when the call failed (the playback is dropped).
EMSCRIPTEN_KEEPALIVE int orv_continue(int elapsed) {
  const int done = Guarded([&] { return Cued().Continue(elapsed) ? 1 : 0; }, -1);
  if (done < 0) ThePlayer().playback.reset();
  return done;
}

EMSCRIPTEN_KEEPALIVE int orv_finish() {
  const int rc = Guarded(
      [] {
        Cued().Finish();
        return 0;
      },
      -1);
  if (rc < 0) ThePlayer().playback.reset();
  return rc;
}

// What the window shows now as R, G, B, 255 per pixel, top row first, for
// the page's canvas; null without a playback.
EMSCRIPTEN_KEEPALIVE uint8_t* orv_frame() {
  return Guarded(
      []() -> uint8_t* {
        Player& p = ThePlayer();
        orvhost::Surface& window = Cued().window();
        const size_t rowBytes = size_t(window.width) * 4;
        p.rgba.resize(rowBytes * size_t(window.height));
        for (int32_t y = 0; y < window.height; ++y)
          orvplay::UnpackRowRgba(window.Row(y), window.width, window.depth,
                                 p.rgba.data() + size_t(y) * rowBytes);
        return p.rgba.data();
      },
      nullptr);
}

}  // extern "C"
