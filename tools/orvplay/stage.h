// The stand-in host's stage driven as the host drives a transition: the
// module registers its transitions, a member is placed from a registry entry,
// its actor is cued with the two frames, stepped at each frame time and
// finished, and what the window shows is handed on after every step.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "module/host_services.h"
#include "tools/picture.h"

namespace orvhost {
class Host;
struct Dict;
struct Surface;
}  // namespace orvhost

namespace orvplay {

using orv::module::HostRect;

// A transition as its registry entry describes it.
struct Transition {
  std::string symbol, displayName, category;
  int32_t defaultDuration = 0, defaultChunkSize = 0;
  // Whether its member's media holds a colour (the four bytes of a
  // ColorChoice), as the module answers for a member placed from the entry.
  bool takesColor = false;
  const orvhost::Dict* entry = nullptr;
};

// The colours a transition that takes one shows, by ColorChoice (0 .. 6); bw
// when none is loaded.
inline constexpr std::array<const char*, 7> kColorNames = {"red",     "green",  "blue", "cyan",
                                                           "magenta", "yellow", "bw"};
inline constexpr int32_t kDefaultColorChoice = 6;

struct PlaySettings {
  int32_t depth = 32;
  int32_t duration = 2000;  // ms
  int32_t chunkSize = 64;
  int32_t fps = 30;
  HostRect rect{};
  std::optional<int32_t> colorChoice;  // loaded into the member's media when set
};

// The elapsed time of step k: k * 1000 / fps ms, rounded down.
int32_t StepElapsed(int32_t step, int32_t fps);
// Steps up to and including the first whose elapsed time exceeds the duration.
int32_t ExpectedSteps(int32_t duration, int32_t fps);
// Whether every step of a width x height playback keeps the wipes' band
// arithmetic, (side + chunk) * elapsed, within 32 bits; and the longest
// duration that surely does, for messages.
bool StepsFit(int32_t duration, int64_t width, int64_t height, int32_t chunk, int32_t fps);
int32_t LongestDuration(int64_t width, int64_t height, int32_t chunk, int32_t fps);
// Empty when the settings suit a width x height stage, otherwise why not.
std::string SettingsProblem(const PlaySettings& settings, int32_t width, int32_t height);

// What the window shows after a step, turned into a Picture the first time
// something asks for it: a run whose outputs keep no frame (--no-output)
// leaves the frames in the stage's own pixels and pays for no conversion.
class Shown {
 public:
  virtual const Picture& picture() const = 0;

 protected:
  ~Shown() = default;
};

// A picture taken already, for outputs fed from elsewhere.
class ShownPicture : public Shown {
 public:
  explicit ShownPicture(const Picture& picture) : picture_(picture) {}
  const Picture& picture() const override { return picture_; }

 private:
  const Picture& picture_;
};

// Receives what the window shows after each step and after Finish.
class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual void Step(int32_t step, int32_t elapsed, const Shown& window) = 0;
  virtual void Final(const Shown& window) = 0;
};

class Stage;

// One playback as the host drives it: the member is placed, the two frames
// enter the window and the offscreen image, the actor is made and cued; then
// Continue at each elapsed time and Finish once. A playback dropped before
// Finish lets its actor release its buffers.
class Playback {
 public:
  // Throws std::invalid_argument when the pictures differ in size, and
  // std::runtime_error when the module fails a call.
  Playback(Stage& stage, const Transition& transition, const PlaySettings& settings,
           const Picture& from, const Picture& to);
  ~Playback();
  Playback(const Playback&) = delete;
  Playback& operator=(const Playback&) = delete;

  // One step at the elapsed time; true once the actor reports done. Throws
  // std::runtime_error ("out of memory") when the actor, short of memory,
  // played a cut in place of the transition.
  bool Continue(int32_t elapsed);
  void Finish();
  // What the window shows now.
  orvhost::Surface& window();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class Stage {
 public:
  // Loads the module and registers its transitions. Throws std::runtime_error
  // when the module cannot be loaded or refuses to register. `poll` is called
  // between rows of the long copies, where a tool checks for a stop signal.
  explicit Stage(std::function<void()> poll = {});
  ~Stage();

  const std::vector<Transition>& transitions() const { return transitions_; }

  // Plays one transition from `from` (the window) to `to` (the offscreen
  // image); both must have the same size. Returns the number of steps.
  // Throws std::runtime_error when the module fails a call or never reports done.
  int32_t Play(const Transition& transition, const PlaySettings& settings, const Picture& from,
               const Picture& to, FrameSink& sink);

 private:
  friend class Playback;
  std::function<void()> poll_;
  std::unique_ptr<orvhost::Host> host_;
  std::vector<Transition> transitions_;
};

}  // namespace orvplay
