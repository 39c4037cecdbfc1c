#include "tools/orvplay/stage.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <stdexcept>

#include "host/member.h"

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

// Row by row, polling between rows: a large picture takes a while.
void Fill(orvhost::Surface& surface, const Picture& picture, const std::function<void()>& poll) {
  for (int32_t y = 0; y < picture.height; ++y) {
    PackRow(picture.At(0, y), picture.width, surface.depth, surface.Row(y));
    if (poll) poll();
  }
}

// The window after the latest step, unpacked once however many ask, into a
// picture made on the first ask: a run that never asks never holds one.
class WindowShown : public Shown {
 public:
  WindowShown(orvhost::Surface& window, const std::function<void()>& poll)
      : window_(window), poll_(poll) {}
  void Changed() { taken_ = false; }
  const Picture& picture() const override {
    if (!taken_) {
      if (picture_.rgb.empty()) picture_ = Picture(window_.width, window_.height, Picture::Unset{});
      for (int32_t y = 0; y < picture_.height; ++y) {
        UnpackRow(window_.Row(y), picture_.width, window_.depth, picture_.At(0, y));
        if (poll_) poll_();
      }
      taken_ = true;
    }
    return picture_;
  }

 private:
  orvhost::Surface& window_;
  const std::function<void()>& poll_;
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

bool StepsFit(int32_t duration, int64_t width, int64_t height, int32_t chunk, int32_t fps) {
  const int64_t lastElapsed = StepElapsed(ExpectedSteps(duration, fps) - 1, fps);
  return (std::max(width, height) + chunk) * lastElapsed <= INT32_MAX;
}

int32_t LongestDuration(int64_t width, int64_t height, int32_t chunk, int32_t fps) {
  // The last step may come up to one step's time past the duration.
  return int32_t(
      std::max<int64_t>(INT32_MAX / (std::max(width, height) + chunk) - 1000 / fps - 1, 1));
}

std::string SettingsProblem(const PlaySettings& s, int32_t width, int32_t height) {
  const HostRect& r = s.rect;
  if (r.top < 0 || r.left < 0 || r.bottom > height || r.right > width || r.top >= r.bottom ||
      r.left >= r.right)
    return "the rectangle " + std::to_string(r.top) + "," + std::to_string(r.left) + "," +
           std::to_string(r.bottom) + "," + std::to_string(r.right) + " is empty or leaves the " +
           std::to_string(width) + " x " + std::to_string(height) + " picture";
  if (!IsStageDepth(s.depth)) return "the stage has no depth " + std::to_string(s.depth);
  if (s.duration < 1 || s.chunkSize < 1 || s.fps < 1)
    return "the duration, chunk size and steps per second must be at least 1";
  if (!StepsFit(s.duration, width, height, s.chunkSize, s.fps))
    return "a " + std::to_string(s.duration) +
           " ms duration is too long for this picture; at most " +
           std::to_string(LongestDuration(width, height, s.chunkSize, s.fps)) + " ms";
  return "";
}

struct Playback::State {
  State(orvhost::Host& h, const PlaySettings& s) : host(h), settings(s) {}
  orvhost::Host& host;
  const PlaySettings settings;
  orvhost::Member member;
  std::unique_ptr<orvhost::Surface> window, offscreen;
  orvhost::Actor actor;
  TransitionParams params{};
  bool continued = false;
  bool finished = false;
};

Playback::Playback(Stage& stage, const Transition& transition, const PlaySettings& settings,
                   const Picture& from, const Picture& to)
    : state_(std::make_unique<State>(*stage.host_, settings)) {
  if (from.width != to.width || from.height != to.height)
    throw std::invalid_argument("the two pictures differ in size");
  if (const std::string problem = SettingsProblem(settings, from.width, from.height);
      !problem.empty())
    throw std::invalid_argument(problem);
  State& s = *state_;
  Check(s.member.Place(s.host, *transition.entry), "placing a " + transition.symbol + " member");
  if (settings.colorChoice) {
    // The colour reaches the member the way a saved movie brings it: as media.
    Check(s.member.LoadColorChoice(s.host, *settings.colorChoice), "LoadMedia");
  }
  s.window = s.host.NewSurface("window", from.width, from.height, settings.depth);
  s.offscreen = s.host.NewSurface("offscreen", from.width, from.height, settings.depth);
  Fill(*s.window, from, stage.poll_);
  Fill(*s.offscreen, to, stage.poll_);
  Check(s.member.MakeActor(s.actor), "MakeActor");
  s.params = TransitionParams{settings.chunkSize, settings.duration, 0, 0};
  Check(s.actor.Cue(*s.window, *s.offscreen, settings.rect, s.params), "Cue");
}

Playback::~Playback() {
  // Dropped early (an error, a signal, a scrub back): the actor still gets
  // its Finish, so that it releases what Cue took.
  State& s = *state_;
  if (!s.finished && s.actor) s.actor.Finish(*s.window, *s.offscreen, s.settings.rect, s.params);
}

bool Playback::Continue(int32_t elapsed) {
  State& s = *state_;
  s.params.elapsed = elapsed;
  int32_t done = 0;
  Check(s.actor.Continue(*s.window, *s.offscreen, s.settings.rect, s.params, &done), "Continue");
  // An actor that finds no memory for its frames cannot tell the host and
  // plays a cut. Over a rectangle (always one here), at 16 bits or more and
  // for 2 ms or more, every transition is still going at its first step;
  // done there is that cut, not the transition asked for.
  const bool first = !s.continued;
  s.continued = true;
  if (first && done && s.settings.depth >= 16 && s.settings.duration >= 2 &&
      elapsed <= s.settings.duration)
    throw std::runtime_error("out of memory: the module had no room for its frames of the " +
                             std::to_string(s.window->width) + "x" +
                             std::to_string(s.window->height) + " pictures and played a cut");
  return done != 0;
}

void Playback::Finish() {
  State& s = *state_;
  s.finished = true;
  Check(s.actor.Finish(*s.window, *s.offscreen, s.settings.rect, s.params), "Finish");
}

orvhost::Surface& Playback::window() { return *state_->window; }

Stage::Stage(std::function<void()> poll)
    : poll_(std::move(poll)), host_(std::make_unique<orvhost::Host>()) {
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
    orvhost::Member member;
    Check(member.Place(*host_, *t.entry), "placing a " + t.symbol + " member");
    t.takesColor = member.MediaSize() == 4;
    transitions_.push_back(t);
  }
  if (transitions_.empty()) throw std::runtime_error("the module registered no transitions");
}

Stage::~Stage() = default;

int32_t Stage::Play(const Transition& transition, const PlaySettings& settings, const Picture& from,
                    const Picture& to, FrameSink& sink) {
  Playback playback(*this, transition, settings, from, to);
  WindowShown shown(playback.window(), poll_);
  // A conforming actor is done one step past the duration; give up well after.
  const int64_t giveUp = 2 * int64_t(settings.duration) + 1000;
  for (int32_t step = 0;; ++step) {
    const int32_t elapsed = StepElapsed(step, settings.fps);
    const bool done = playback.Continue(elapsed);
    shown.Changed();
    sink.Step(step, elapsed, shown);
    if (done) {
      playback.Finish();
      shown.Changed();
      sink.Final(shown);
      return step + 1;
    }
    if (elapsed > giveUp)
      throw std::runtime_error(transition.symbol + " did not report done by " +
                               std::to_string(elapsed) + " ms");
  }
}

}  // namespace orvplay
