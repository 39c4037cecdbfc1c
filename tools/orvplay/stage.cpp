#include "tools/orvplay/stage.h"

#include <cstdio>
#include <stdexcept>

#include "host/member.h"
#include "tools/safe_output.h"

using namespace orv::module;

namespace orvplay {

namespace {

std::string Hex(HResult rc) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(rc));
  return text;
}

void Check(HResult rc, const std::string& what) {
  if (rc != 0) throw std::runtime_error(what + " failed with " + Hex(rc));
}

// Row by row, stopping for a signal: a large picture takes a while.
void Fill(orvhost::Surface& surface, const Picture& picture) {
  for (int32_t y = 0; y < picture.height; ++y, orvtools::CheckStop())
    PackRow(picture.At(0, y), picture.width, surface.depth, surface.Row(y));
}

// The window after the latest step, unpacked once however many ask, into a
// picture made on the first ask: a run that never asks never holds one.
class WindowShown : public Shown {
 public:
  explicit WindowShown(orvhost::Surface& window) : window_(window) {}
  void Changed() { taken_ = false; }
  const Picture& picture() const override {
    if (!taken_) {
      if (picture_.rgb.empty()) picture_ = Picture(window_.width, window_.height);
      for (int32_t y = 0; y < picture_.height; ++y, orvtools::CheckStop())
        UnpackRow(window_.Row(y), picture_.width, window_.depth, picture_.At(0, y));
      taken_ = true;
    }
    return picture_;
  }

 private:
  orvhost::Surface& window_;
  mutable Picture picture_;
  mutable bool taken_ = false;
};

}  // namespace

int32_t StepElapsed(int32_t step, int32_t fps) { return int32_t(int64_t(step) * 1000 / fps); }

int32_t ExpectedSteps(int32_t duration, int32_t fps) {
  // The first step past the duration, then count it in.
  int32_t k = int32_t(int64_t(duration) * fps / 1000);
  while (StepElapsed(k, fps) <= duration) ++k;
  return k + 1;
}

Stage::Stage() : host_(std::make_unique<orvhost::Host>()) {
  host_->recording = false;  // a long playback would fill the call log
  Check(orvhost::RegisterTransitions(*host_), "registering the transitions");
  for (const auto& entry : host_->registry) {
    Transition t;
    auto text = [&](const char* key) {
      const orvhost::DictValue* v = entry->Find(key);
      return v ? v->AsText() : std::string();
    };
    auto number = [&](const char* key) {
      const orvhost::DictValue* v = entry->Find(key);
      return v ? v->AsInt() : 0;
    };
    t.symbol = text("symbolString");
    t.displayName = text("displayNameString");
    t.category = text("displayCategoryString");
    t.defaultDuration = number("transitionDefaultDuration");
    t.defaultChunkSize = number("transitionDefaultChunkSize");
    t.entry = entry.get();
    transitions_.push_back(t);
  }
  if (transitions_.empty()) throw std::runtime_error("the module registered no transitions");
}

Stage::~Stage() = default;

int32_t Stage::Play(const Transition& transition, const PlaySettings& settings, const Picture& from,
                    const Picture& to, FrameSink& sink) {
  if (from.width != to.width || from.height != to.height)
    throw std::invalid_argument("the two pictures differ in size");
  orvhost::Host& host = *host_;

  orvhost::Member member;
  Check(member.Place(host, *transition.entry), "placing a " + transition.symbol + " member");
  if (settings.colorChoice) {
    // The colour reaches the member the way a saved movie brings it: as media.
    Check(member.LoadColorChoice(host, *settings.colorChoice), "LoadMedia");
  }

  auto window = host.NewSurface("window", from.width, from.height, settings.depth);
  auto offscreen = host.NewSurface("offscreen", from.width, from.height, settings.depth);
  Fill(*window, from);
  Fill(*offscreen, to);

  orvhost::Actor actor;
  Check(member.MakeActor(actor), "MakeActor");
  TransitionParams params{settings.chunkSize, settings.duration, 0, 0};
  const HostRect rect = settings.rect;
  Check(actor.Cue(*window, *offscreen, rect, params), "Cue");

  WindowShown shown(*window);
  // A conforming actor is done one step past the duration; give up well after.
  const int64_t giveUp = 2 * int64_t(settings.duration) + 1000;
  int32_t step = 0;
  try {
    for (;; ++step) {
      params.elapsed = StepElapsed(step, settings.fps);
      int32_t done = 0;
      Check(actor.Continue(*window, *offscreen, rect, params, &done), "Continue");
      shown.Changed();
      sink.Step(step, params.elapsed, shown);
      if (done) break;
      if (params.elapsed > giveUp)
        throw std::runtime_error(transition.symbol + " did not report done by " +
                                 std::to_string(params.elapsed) + " ms");
    }
  } catch (...) {
    // Let the actor release its buffers before the error goes on.
    actor.Finish(*window, *offscreen, rect, params);
    throw;
  }
  Check(actor.Finish(*window, *offscreen, rect, params), "Finish");
  shown.Changed();
  sink.Final(shown);
  return step + 1;
}

}  // namespace orvplay
